#pragma once

// Shared helpers: file names, locale-independent numbers, ASCII case folding,
// code-page conversion, OS errors, colours and the tick counter.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cadport {

// --- file names --------------------------------------------------------------
// '/' is the directory separator; '\' is accepted as one too where noted.

// Trims blanks, then drops the extension of the last path component (from
// its last '.', dot included).  Directories keep their dots.  '/' and '\'.
std::string RemoveExtension(std::string_view path);

// The file name without directory and extension: the layer's default name.
// '/' and '\' (and ':') end the directory part.
std::string BaseName(std::string_view path);

// The absolute, normalised path of fileName.  Empty for an empty fileName;
// unchanged when it contains "://" (a URL).  A relative name is resolved
// against baseDir when that names an existing directory, else against the
// current directory.  Never changes the current directory.
std::string ExpandPath(std::string_view baseDir, std::string_view fileName);

// target relative to the directory of baseFile ("../" for every level up).
// Both are expanded first; the common prefix is compared ASCII
// case-insensitively.
std::string RelativePath(std::string_view baseFile, std::string_view target);

// Path + "~": the name a replaced file is kept under.
inline std::string BackupName(std::string_view path) {
  std::string r(path);
  r += '~';
  return r;
}

// Path + "~tmp": the name a file is written under before it is swapped in.
inline std::string TempName(std::string_view path) {
  std::string r(path);
  r += "~tmp";
  return r;
}

// --- text --------------------------------------------------------------------

// Blanks and control characters (anything up to ' ') removed from both ends.
std::string_view TrimText(std::string_view text) noexcept;
std::string_view TrimLeftText(std::string_view text) noexcept;
std::string_view TrimRightText(std::string_view text) noexcept;

// ASCII-only case folding: results never depend on the user's locale.
inline constexpr char AsciiUpper(char c) noexcept {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
inline constexpr char AsciiLower(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string AsciiUpperText(std::string_view text);
std::string AsciiLowerText(std::string_view text);
bool SameTextNoCase(std::string_view a, std::string_view b) noexcept;
// <0, 0, >0 like strcmp, after ASCII upper-casing both.
int CompareTextNoCase(std::string_view a, std::string_view b) noexcept;

// --- numbers -----------------------------------------------------------------
// Locale-independent, no heap allocation on the Try.../...Chars paths.

// Parses an optional sign, digits with at most one decimal separator ('.'
// or ','), and an optional exponent; blanks around the number are allowed.
// The separator that worked last is tried first next time.  No "inf",
// "nan" or hexadecimal forms.  A magnitude too small for a double reads
// as 0; one too large fails.
bool TryTextToFloat(std::string_view text, double& value) noexcept;

// As TryTextToFloat, raising EGIS_ConvertError
// "'<text>' is not a valid floating point value" on failure.
double TextToFloat(std::string_view text);

// Processors this process may run on (its affinity mask), at least 1.
int32_t AvailableProcessors() noexcept;

// The separator TryTextToFloat tries first ('.' or ','); for tests.
char RememberedDecimalSeparator() noexcept;
void SetRememberedDecimalSeparator(char separator) noexcept;

// Room FloatToDotChars needs, terminating zero included.
inline constexpr std::size_t kFloatTextSize = 32;

// The shortest text that reads back to the same double, limited to 15
// significant digits (values needing more are rounded to 15), '.' as the
// separator; exponent form ("1.5E-7", "1E20") below 1e-5 and from 1e15 on.
// NaN and infinities give "NAN", "INF", "-INF".  Writes at most
// kFloatTextSize - 1 characters plus a terminating zero into buffer and
// returns the length.
std::size_t FloatToDotChars(double value, char* buffer) noexcept;
std::string FloatToDotText(double value);

// Decimal integers: optional sign and digits, blanks around allowed.
bool TryTextToInt(std::string_view text, std::int32_t& value) noexcept;
bool TryTextToInt(std::string_view text, std::int64_t& value) noexcept;
// As above, raising EGIS_ConvertError "'<text>' is not a valid integer value".
std::int32_t TextToInt(std::string_view text);
std::int64_t TextToInt64(std::string_view text);

// --- code pages ----------------------------------------------------------------
// Code pages are Windows code page numbers (1250-1258, 437, 850, 866, 874,
// 932, 936, 949, 950, 20127, 20866, 28591-28605, 65001, ...); 0 means the
// system code page.

inline constexpr int kCodePageUTF8 = 65001;

// The system's code page: UTF-8 on Linux.
int SystemCodePage() noexcept;

// True when the code page can be converted from and to.
bool IsCodePageSupported(int codePage) noexcept;

// Text unchanged when the code pages are equal; otherwise decoded from
// fromCodePage and encoded into toCodePage.  Characters the target cannot
// hold become '?', undecodable bytes U+FFFD (or '?').  An unsupported code
// page gives an empty result.  Never throws (short of memory).
std::string RecodeText(std::string_view text, int fromCodePage, int toCodePage);

// UTF-16 text encoded into codePage, same rules as RecodeText.
std::string WideToCodePage(std::u16string_view text, int codePage);

// Text in codePage decoded to UTF-16, same rules as RecodeText.
std::u16string CodePageToWide(std::string_view text, int codePage);

// --- platform ------------------------------------------------------------------

// The text of the calling thread's last OS error (errno):
// "<strerror text> (errno <n>)".
std::string LastOSErrorText();
// The same for a given errno value.
std::string OSErrorText(int errorNumber);

// Milliseconds since system start, modulo 2^31 - 1 (never negative).
std::uint32_t TickCount() noexcept;

// --- colours -------------------------------------------------------------------

// Colours are 0x00BBGGRR.  NonZeroColor keeps 0 from meaning "no colour".
inline constexpr std::uint32_t NonZeroColor(std::uint32_t color) noexcept {
  return color == 0 ? 0x010101u : color;
}

// R + G*256 + B*65536, each taken modulo 256.
inline constexpr std::uint32_t MakeRGB(int r, int g, int b) noexcept {
  return (static_cast<std::uint32_t>(r) & 0xFFu) | ((static_cast<std::uint32_t>(g) & 0xFFu) << 8) |
         ((static_cast<std::uint32_t>(b) & 0xFFu) << 16);
}

}  // namespace cadport
