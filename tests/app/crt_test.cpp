#include "app/crt.h"

#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "app/glyphs.h"
#include "app/memory_backend.h"

namespace cadport {
namespace {

// A device on a small memory screen; the cursor starts top-left.
struct Screen {
  explicit Screen(int w = 10, int h = 4, std::uint8_t attr = 7, int x = 0, int y = 0) {
    auto b = std::make_unique<MemoryBackend>(w, h, attr, x, y);
    mem = b.get();
    crt = std::make_unique<Crt>(std::move(b));
  }
  std::string Row(int y) const { return mem->RowText(y); }
  MemoryBackend* mem;
  std::unique_ptr<Crt> crt;
};

TEST(Crt, FullLineThenLineBreakLeavesAnEmptyLine) {
  Screen s(10, 4);
  s.crt->WriteLine("0123456789");
  EXPECT_EQ(s.Row(0), "0123456789");
  EXPECT_EQ(s.Row(1), "          ");
  EXPECT_EQ(s.crt->CursorColumn(), 1);
  EXPECT_EQ(s.crt->CursorRow(), 3);  // wrapped to row 2, then CR LF to row 3
  EXPECT_EQ(s.mem->CursorY(), 2);
}

TEST(Crt, BackspaceMovesLeftWithoutErasingAndStopsAtTheLeftColumn) {
  Screen s;
  s.crt->Write("\bab\bX");
  EXPECT_EQ(s.Row(0).substr(0, 3), "aX ");
  s.crt->Write("\r\b\b");
  EXPECT_EQ(s.crt->CursorColumn(), 1);
  EXPECT_EQ(s.Row(0).substr(0, 3), "aX ");
}

TEST(Crt, LineFeedKeepsTheColumnAndCarriageReturnGoesLeft) {
  Screen s;
  s.crt->Write("abc\nd");
  EXPECT_EQ(s.Row(0).substr(0, 3), "abc");
  EXPECT_EQ(s.Row(1).substr(0, 4), "   d");
  s.crt->Write("\re");
  EXPECT_EQ(s.Row(1).substr(0, 4), "e  d");
}

TEST(Crt, ControlBytesShowTheirGlyphsAndBellRings) {
  Screen s(16, 2);
  s.crt->Write(std::string("\t\x01\x1b\x7f\x00\x07\xAF", 7));
  EXPECT_EQ(s.Row(0), "○☺←⌂ »          ");
  EXPECT_EQ(s.mem->BeepCount(), 1);
  EXPECT_EQ(s.crt->CursorColumn(), 7);
}

TEST(Crt, Utf8IsOneCellPerCharacterAndBadBytesAreCodePage437) {
  Screen s(12, 2);
  // é (valid), a lone continuation byte, a C1 control encoded in UTF-8,
  // an overlong slash, and a 3-byte character.
  s.crt->Write("\xC3\xA9|\x80|\xC2\x85|\xC0\xAF|\xE2\x82\xAC");
  EXPECT_EQ(s.Row(0), "é|Ç|┬à|└»|€ ");
}

TEST(Crt, CharacterSplitAcrossTheBufferIsKeptWhole) {
  Screen s(200, 2);
  std::string text(Crt::kBufferSize - 1, 'x');
  text += "\xE2\x82\xAC!";  // the euro sign straddles the 128-byte buffer
  s.crt->Write(text);
  EXPECT_EQ(s.crt->CursorColumn(), 130);
  EXPECT_EQ(s.mem->Cell(127, 0).Glyph, U'€');
  EXPECT_EQ(s.mem->Cell(128, 0).Glyph, U'!');
}

TEST(Crt, RunsHoldAtMost64Cells) {
  Screen s(200, 2);
  s.crt->Write(std::string(150, 'r'));
  const auto writes = s.mem->Writes();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0].Glyphs.size(), 64u);
  EXPECT_EQ(writes[1].X, 64);
  EXPECT_EQ(writes[1].Glyphs.size(), 64u);
  EXPECT_EQ(writes[2].Glyphs.size(), 22u);
}

TEST(Crt, WritingPastTheLastRowScrollsOneLinePerLineFeed) {
  Screen s(5, 3);
  s.crt->SetTextAttribute(0x1E);
  s.crt->Write("a\r\nb\r\nc\r\nd\r\ne");
  EXPECT_EQ(s.mem->ScrollCount(), 2);
  EXPECT_EQ(s.crt->ScrollCount(), 2);
  EXPECT_EQ(s.Row(0), "c    ");
  EXPECT_EQ(s.Row(1), "d    ");
  EXPECT_EQ(s.Row(2), "e    ");
  EXPECT_EQ(s.mem->Cell(4, 2).Attribute, 0x1E);  // the new row is blank in the current attribute
  EXPECT_EQ(s.crt->CursorRow(), 3);
}

TEST(Crt, ColourOperations) {
  for (std::uint8_t start : {0x00, 0x07, 0xFF, 0x9C}) {
    SCOPED_TRACE(int(start));
    Screen s(10, 2, start);
    EXPECT_EQ(s.crt->NormalAttribute(), start);
    s.crt->SetTextBackground(14);
    s.crt->SetTextForeground(1);
    EXPECT_EQ(s.crt->TextAttribute(), 0x61);
    s.crt->SetTextAttribute(0xF0);
    s.crt->SetTextForeground(0x8A);  // keeps bits 4-6; bits 0-3 and 7 from the colour
    EXPECT_EQ(s.crt->TextAttribute(), 0xFA);
    s.crt->LowerIntensity();
    EXPECT_EQ(s.crt->TextAttribute(), 0xF2);
    s.crt->RaiseIntensity();
    EXPECT_EQ(s.crt->TextAttribute(), 0xFA);
    s.crt->RestoreNormalAttribute();
    EXPECT_EQ(s.crt->TextAttribute(), start);
  }
}

TEST(Crt, TextTakesTheCurrentAttribute) {
  Screen s;
  s.crt->SetTextForeground(2);
  s.crt->Write("g");
  s.crt->SetTextForeground(14);
  s.crt->Write("y");
  EXPECT_EQ(s.mem->Cell(0, 0).Attribute, 0x02);
  EXPECT_EQ(s.mem->Cell(1, 0).Attribute, 0x0E);
}

TEST(Crt, MoveCursorStaysInsideTheWindow) {
  Screen s(10, 4, 7, 3, 2);
  EXPECT_EQ(s.crt->CursorColumn(), 4);
  EXPECT_EQ(s.crt->CursorRow(), 3);
  s.crt->MoveCursor(0, 1);  // column 0 is outside: nothing happens
  EXPECT_EQ(s.crt->CursorColumn(), 4);
  s.crt->MoveCursor(11, 1);
  s.crt->MoveCursor(1, 5);
  EXPECT_EQ(s.crt->CursorRow(), 3);
  s.crt->MoveCursor(1, 1);
  EXPECT_EQ(s.mem->CursorX(), 0);
  EXPECT_EQ(s.mem->CursorY(), 0);
  s.crt->MoveCursor(10, 4);
  s.crt->Write("z");  // the last cell: the cursor wraps, the screen scrolls
  EXPECT_EQ(s.mem->ScrollCount(), 1);
  EXPECT_EQ(s.Row(2).back(), 'z');
}

TEST(Crt, CursorShapes) {
  Screen s;
  struct Case { int shape, size; bool visible; };
  for (const Case& c : {Case{0, 25, false}, Case{1, 99, true}, Case{2, 25, true},
                        Case{3, 15, true}}) {
    s.crt->SetCursorShape(c.shape);
    EXPECT_EQ(s.mem->CursorSize(), c.size);
    EXPECT_EQ(s.mem->CursorVisible(), c.visible);
  }
  s.crt->SetCursorShape(-1, 50, false);
  EXPECT_EQ(s.mem->CursorSize(), 50);
  EXPECT_FALSE(s.mem->CursorVisible());
  s.crt->SetCursorShape(7);  // unknown shapes change nothing
  EXPECT_EQ(s.mem->CursorSize(), 50);
}

TEST(Crt, EndLineGoesBelowEverythingWritten) {
  Screen s(20, 6);
  s.crt->WriteLine("target");
  s.crt->Write("bar");
  const int barRow = s.crt->CursorRow();
  s.crt->WriteLine();
  s.crt->WriteLine("error");
  s.crt->MoveCursor(1, barRow);
  s.crt->Write("Done");
  s.crt->EndLine();
  EXPECT_EQ(s.crt->CursorRow(), barRow + 2);
  EXPECT_EQ(s.crt->CursorColumn(), 1);
  s.crt->EndLine();  // already on a fresh line
  EXPECT_EQ(s.crt->CursorRow(), barRow + 2);
  s.crt->Write("x");
  s.crt->EndLine();
  EXPECT_EQ(s.crt->CursorRow(), barRow + 3);
}

TEST(Crt, CloseEndsTheLineAndRestoresTheScreen) {
  Screen s;
  s.crt->Write("abc");
  s.crt->Close();
  EXPECT_TRUE(s.mem->Restored());
  EXPECT_EQ(s.crt->CursorRow(), 2);
}

TEST(Crt, ReadKeyCodeFollowsTheKeyTable) {
  Screen s;
  auto key = [&](std::uint16_t vk, unsigned char ch, bool shift = false, bool ctrl = false,
                 bool alt = false, bool down = true) {
    s.mem->PushKey(TCrtKeyEvent{vk, ch, down, shift, ctrl, alt});
  };
  key('A', 'a');                     // the console's character: Caps Lock counts
  key('A', 'A', true);               // Shift column
  key('A', 'a', false, true);        // Ctrl+A
  key('A', 'a', false, false, true); // Alt+A: 0 then scan code 30
  key(37, 0);                        // left arrow: 0 then 75
  key(112, 0, false, true);          // Ctrl+F1: 0 then 94
  key(91, 0);                        // system key: skipped
  key(16, 0);                        // not in the table: skipped
  key(13, 13, false, false, false, false);  // key up: skipped
  key(8, 8, false, true);            // Ctrl+Backspace: 127
  key(9, 9, true);                   // Shift+Tab: 0 then 15
  const int want[] = {'a', 'A', 1, 0, 30, 0, 75, 0, 94, 127, 0, 15, 0xFF};
  for (int w : want) EXPECT_EQ(s.crt->ReadKeyCode(), w);
}

TEST(Crt, LineInputEditsAndEchoes) {
  Screen s(20, 3);
  auto key = [&](std::uint16_t vk, unsigned char ch) { s.mem->PushKey(TCrtKeyEvent{vk, ch}); };
  key(8, 8);      // backspace on an empty line: nothing
  key('A', 'a');
  key('B', 'b');
  key(8, 8);
  key(38, 0);     // up arrow: extended keys are ignored
  key('C', 'c');
  key(13, 13);
  EXPECT_EQ(s.crt->FillInputBuffer(), "ac\r\n");
  EXPECT_EQ(s.Row(0).substr(0, 4), "ac  ");  // "\b \b" blanked the b
  EXPECT_EQ(s.crt->CursorRow(), 2);
  EXPECT_EQ(s.crt->ReadLine(), "");  // no more input ends the line
}

TEST(Crt, PlainModeWritesLinesWithoutEscapes) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  {
    Crt crt(fds[1], -1);
    EXPECT_TRUE(crt.Plain());
    crt.WriteLine();
    crt.SetTextForeground(2);
    crt.WriteLine("green\a");
    crt.MoveCursor(1, 1);
    crt.SetCursorShape(0);
    crt.Write("Creating  \xAF\xAF  /t/\xC3\xA9.shp\r\n");
    crt.Write("Done");
  }  // closing ends the line
  ::close(fds[1]);
  std::string got;
  char buf[256];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) got.append(buf, std::size_t(n));
  ::close(fds[0]);
  EXPECT_EQ(got, "\ngreen\nCreating  »»  /t/é.shp\nDone\n");
}

TEST(Glyphs, DecodeStopsOnlyInsideAValidSequence) {
  char32_t g;
  std::size_t len;
  EXPECT_EQ(DecodeGlyph("\xE2\x82", 2, false, g, len), TGlyphDecode::kIncomplete);
  EXPECT_EQ(DecodeGlyph("\xE2\x82", 2, true, g, len), TGlyphDecode::kGlyph);
  EXPECT_EQ(g, U'Γ');
  EXPECT_EQ(len, 1u);
  EXPECT_EQ(DecodeGlyph("\xED\xA0\x80", 3, false, g, len), TGlyphDecode::kGlyph);  // surrogate
  EXPECT_EQ(len, 1u);
  EXPECT_EQ(DecodeGlyph("\xF4\x90\x80\x80", 4, false, g, len), TGlyphDecode::kGlyph);  // > 10FFFF
  EXPECT_EQ(len, 1u);
  EXPECT_EQ(DecodeGlyph("\xF0\x9F\x98\x80", 4, false, g, len), TGlyphDecode::kGlyph);
  EXPECT_EQ(g, char32_t{0x1F600});
  EXPECT_EQ(len, 4u);
  EXPECT_EQ(Cp437Glyph(0xAF), U'»');
  EXPECT_EQ(Cp437Glyph(0xFF), char32_t{0xA0});
}

}  // namespace
}  // namespace cadport
