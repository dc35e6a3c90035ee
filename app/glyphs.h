#pragma once

// How console bytes become the characters shown in screen cells.
//
// Text is decoded as UTF-8 where it is valid (file names are UTF-8 on
// Linux); every byte that does not start a valid, printable UTF-8 sequence
// is shown as its code page 437 glyph, so AFh shows as » and control bytes
// show their glyphs.  Each character takes one cell.

#include <cstddef>
#include <string>

namespace cadport {

// The code page 437 glyph of a byte.  Control bytes give their glyphs
// (01h is ☺, 09h is ○, 1Bh is ←, 7Fh is ⌂); 00h gives a blank.
char32_t Cp437Glyph(unsigned char byte) noexcept;

enum class TGlyphDecode {
  kGlyph,       // one character decoded
  kIncomplete,  // the bytes end inside what may still become a valid sequence
};

// Decodes the character at the start of [text, text + size) (size > 0).
// Sets glyph and the number of bytes it takes.  A well-formed multi-byte
// sequence gives its code point, unless that is a C1 control character,
// which must never reach a terminal: then, like any byte that does not
// start a valid sequence, the first byte alone gives its code page 437
// glyph.  With final false, a truncated but so far valid sequence at the
// end gives kIncomplete (wait for more bytes); with final true it is shown
// byte by byte.
TGlyphDecode DecodeGlyph(const char* text, std::size_t size, bool final, char32_t& glyph,
                         std::size_t& length) noexcept;

// Appends the UTF-8 form of a code point.
void AppendUtf8(std::string& out, char32_t glyph);

// The UTF-8 text of a line of glyphs.
std::string GlyphsToUtf8(std::u32string_view glyphs);

}  // namespace cadport
