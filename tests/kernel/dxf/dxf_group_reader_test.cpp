#include "kernel/dxf/dxf_group_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace cadport {
namespace {

using Group = std::pair<int32_t, std::string>;

std::vector<Group> ReadAll(TGIS_DxfGroupReader& r) {
  std::vector<Group> groups;
  while (!r.AtEnd()) {
    r.ReadGroup();
    groups.emplace_back(r.GroupCode(), std::string(r.GroupValue()));
  }
  return groups;
}

// Binary helpers.
const std::string kSentinel("AutoCAD Binary DXF\r\n\x1a\0", 22);

std::string Code16(int code) {
  return std::string{static_cast<char>(code & 0xFF), static_cast<char>((code >> 8) & 0xFF)};
}
std::string Str(const std::string& s) { return s + std::string(1, '\0'); }
std::string Dbl(double d) {
  std::string out(8, '\0');
  std::memcpy(out.data(), &d, 8);
  return out;
}
std::string I16(int v) { return Code16(v); }
std::string I32(int32_t v) {
  std::string out(4, '\0');
  std::memcpy(out.data(), &v, 4);
  return out;
}

TEST(DxfGroupReader, TextFormRightAlignedCodesAndUntrimmedValues) {
  const std::string text = "  0\r\nSECTION \r\n  2\r\nENTITIES\r\n 10\r\n1.5\r\n-5\r\n\r\n+7\r\n x \r\n";
  TGIS_DxfGroupReader r;
  r.Reset(text.data(), static_cast<int64_t>(text.size()));
  EXPECT_FALSE(r.IsBinary());
  const std::vector<Group> expected = {
      {0, "SECTION "}, {2, "ENTITIES"}, {10, "1.5"}, {-5, ""}, {7, " x "}};
  EXPECT_EQ(ReadAll(r), expected);
  EXPECT_EQ(r.ItemsRead(), 10);
  r.Reset(text.data(), static_cast<int64_t>(text.size()));
  r.ReadGroup();
  EXPECT_FALSE(r.IsGroup(0, "SECTION"));
  EXPECT_TRUE(r.IsGroup(0, "SECTION "));
  EXPECT_TRUE(r.IsGroup(0));
}

// Values of every length up to past two 16-byte blocks, holding tabs, other
// control bytes that do not end a line (0x01, 0x1B), bytes from 0x80 up, and
// ending in LF or CR LF at every offset: each comes back whole, however the
// scan's blocks fall, the last one also without a line end.
TEST(DxfGroupReader, ValuesComeBackWholeWhateverTheirBytes) {
  const char fill[] = {'a', ' ', '\t', '\x01', '\x1B', '\x7F', '\x80', '\xC3', '\xA9', '\xFF', '9'};
  std::string text;
  std::vector<Group> expected;
  for (int length = 0; length <= 40; ++length) {
    for (int variant = 0; variant < 3; ++variant) {
      std::string value;
      for (int i = 0; i < length; ++i)
        value += fill[static_cast<std::size_t>(i * 7 + length * 3 + variant) % sizeof fill];
      const char* end = variant == 1 ? "\r\n" : "\n";
      text += std::to_string(length) + end + value + end;
      expected.push_back({length, value});
    }
  }
  text += "999\nlast value, no line end\t\xC3\xA9";
  expected.push_back({999, "last value, no line end\t\xC3\xA9"});
  TGIS_DxfGroupReader r;
  r.Reset(text.data(), static_cast<int64_t>(text.size()));
  EXPECT_EQ(ReadAll(r), expected);
}

TEST(DxfGroupReader, ByteOrderMarkIsSkipped) {
  const std::string text = "\xEF\xBB\xBF  0\nSECTION\n  2\nENTITIES\n";
  TGIS_DxfGroupReader r;
  r.Reset(text.data(), static_cast<int64_t>(text.size()));
  const std::vector<Group> expected = {{0, "SECTION"}, {2, "ENTITIES"}};
  EXPECT_EQ(ReadAll(r), expected);
}

TEST(DxfGroupReader, BadCodeLinesFailWithTheirLineNumber) {
  struct Case {
    std::string text;
    int64_t line;
  };
  const std::vector<Case> cases = {
      {"0\nSECTION\n0 \nX\n", 3},    // trailing blank
      {"0\nSECTION\n2\nA\nx1\nB\n", 5},
      {"\nSECTION\n", 1},             // empty code line
      {"0\nA\n1.0\nB\n", 3},
      {"0\nA\n99999999999\nB\n", 3},  // beyond 32 bits
      {"0\nA\n--1\nB\n", 3},
  };
  for (const Case& c : cases) {
    TGIS_DxfGroupReader r;
    r.Reset(c.text.data(), static_cast<int64_t>(c.text.size()));
    try {
      while (!r.AtEnd()) r.ReadGroup();
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const EDxfStructure&) {
      EXPECT_EQ(r.ItemsRead(), c.line) << c.text;
    }
  }
}

// A code line that ends the data without its value line means the drawing
// was cut off in the middle of a group; a drawing that ends after a whole
// group (no ENDSEC, no EOF) is read to its end.
TEST(DxfGroupReader, DataEndingAfterCodeLineIsDamage) {
  for (const std::string text : {"8\nWALLS\n62", "8\nWALLS\n62\n", "8\r\nWALLS\r\n 62\r\n"}) {
    TGIS_DxfGroupReader r;
    r.Reset(text.data(), static_cast<int64_t>(text.size()));
    r.ReadGroup();
    EXPECT_THROW(r.ReadGroup(), EDxfStructure) << text;
    EXPECT_EQ(r.ItemsRead(), 3) << text;
  }
  const std::string whole = "8\nWALLS\n62\n7";
  TGIS_DxfGroupReader r;
  r.Reset(whole.data(), static_cast<int64_t>(whole.size()));
  r.ReadGroup();
  r.ReadGroup();
  EXPECT_EQ(r.GroupCode(), 62);
  EXPECT_EQ(r.GroupValue(), "7");
  EXPECT_TRUE(r.AtEnd());
  r.ReadGroup();  // past the end: the current group stays
  EXPECT_EQ(r.GroupCode(), 62);
  EXPECT_EQ(r.GroupValue(), "7");
}

TEST(DxfGroupReader, SentinelMustBeTheWholeFirstLine) {
  const std::string text = "AutoCAD Binary DXF file, or not\n0\nEOF\n";
  TGIS_DxfGroupReader r;
  EXPECT_THROW(
      {
        r.Reset(text.data(), static_cast<int64_t>(text.size()));
        EXPECT_FALSE(r.IsBinary());
        r.ReadGroup();  // the first line is a code line of the text form
      },
      EDxfStructure);
}

TEST(DxfGroupReader, BinaryFormWithSixteenBitCodes) {
  std::string data = kSentinel;
  data += Code16(0) + Str("SECTION");
  data += Code16(2) + Str("ENTITIES");
  data += Code16(8) + Str("0");
  data += Code16(62) + I16(7);
  data += Code16(370) + I16(-3);
  data += Code16(10) + Dbl(0.1);
  data += Code16(40) + Dbl(1e20);
  data += Code16(90) + I32(-123456);
  data += Code16(290) + std::string(1, '\1');
  data += Code16(310) + std::string(1, '\3') + std::string("\x01\xAB\xff", 3);
  data += Code16(1001) + Str("ADE");
  data += Code16(1000) + Str("");
  data += Code16(1071) + I32(70000);
  data += Code16(0) + Str("EOF");
  TGIS_DxfGroupReader r;
  r.Reset(data.data(), static_cast<int64_t>(data.size()));
  EXPECT_EQ(r.Form(), TGIS_DxfForm::Binary);
  const std::vector<Group> expected = {
      {0, "SECTION"}, {2, "ENTITIES"}, {8, "0"},       {62, "7"},     {370, "-3"},
      {10, "0.1"},    {40, "1e+20"},   {90, "-123456"}, {290, "1"},   {310, "01ABFF"},
      {1001, "ADE"},  {1000, ""},      {1071, "70000"}, {0, "EOF"}};
  EXPECT_EQ(ReadAll(r), expected);
  EXPECT_EQ(r.ItemsRead(), 2 * static_cast<int64_t>(expected.size()));
}

TEST(DxfGroupReader, ReleaseTwelveBinaryForm) {
  std::string data = kSentinel;
  data += std::string(1, '\0') + Str("SECTION");
  data += std::string(1, '\2') + Str("ENTITIES");
  data += std::string(1, '\0') + Str("LINE");
  data += std::string(1, '\x0a') + Dbl(-2.5);
  data += std::string(1, '\x3e') + I16(3);
  data += std::string(1, '\xff') + Code16(1001) + Str("ADE");
  data += std::string(1, '\0') + Str("EOF");
  TGIS_DxfGroupReader r;
  r.Reset(data.data(), static_cast<int64_t>(data.size()));
  EXPECT_EQ(r.Form(), TGIS_DxfForm::BinaryR12);
  const std::vector<Group> expected = {{0, "SECTION"}, {2, "ENTITIES"}, {0, "LINE"}, {10, "-2.5"},
                                       {62, "3"},      {1001, "ADE"},   {0, "EOF"}};
  EXPECT_EQ(ReadAll(r), expected);
}

TEST(DxfGroupReader, TruncatedBinaryGroupsFail) {
  const std::vector<std::string> tails = {
      Code16(10) + std::string(5, '\0'),  // short double
      Code16(8) + "no terminator",        // unterminated string
      Code16(62) + std::string(1, '\0'),  // short integer
      std::string(1, '\0'),               // half a code
      Code16(310) + std::string(1, '\x09') + "abc",
  };
  for (const std::string& tail : tails) {
    const std::string data = kSentinel + Code16(0) + Str("SECTION") + tail;
    TGIS_DxfGroupReader r;
    r.Reset(data.data(), static_cast<int64_t>(data.size()));
    EXPECT_THROW(
        {
          while (!r.AtEnd()) r.ReadGroup();
        },
        EDxfStructure);
  }
}

TEST(DxfGroupReader, ProgressOncePerFiveThousandLines) {
  std::string text;
  for (int i = 0; i < 2500; ++i) text += "999\ncomment\n";
  int calls = 0;
  int64_t lastPos = -1;
  TGIS_DxfGroupReader r;
  r.Reset(text.data(), static_cast<int64_t>(text.size()));
  r.SetProgressHandler([&](int64_t pos, int64_t size) {
    ++calls;
    lastPos = pos;
    EXPECT_EQ(size, static_cast<int64_t>(text.size()));
  });
  int groups = 0;
  while (!r.AtEnd()) {
    r.ReadGroup();
    ++groups;
    if (groups == 2499) {
      EXPECT_EQ(calls, 0);
    }
  }
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(lastPos, static_cast<int64_t>(text.size()));

  // Jumping back re-reads groups; the furthest position never decreases.
  r.SetPosition(0);
  r.ReadGroup();
  EXPECT_EQ(r.FurthestPosition(), static_cast<int64_t>(text.size()));
  EXPECT_EQ(r.ItemsRead(), 5002);
}

TEST(DxfGroupReader, StrictIntegerParse) {
  struct Case {
    const char* text;
    bool ok;
    int64_t value;
  };
  const Case cases[] = {{"0", true, 0},      {"  70", true, 70},   {"-1", true, -1},
                        {"+5", true, 5},     {"\t3", true, 3},     {"7 ", false, 0},
                        {"", false, 0},      {" ", false, 0},      {"-", false, 0},
                        {"1e3", false, 0},   {"0x10", false, 0},   {"12a", false, 0}};
  for (const Case& c : cases) {
    int64_t v = 0;
    EXPECT_EQ(TGIS_DxfGroupReader::ParseInteger(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
  EXPECT_THROW(TGIS_DxfGroupReader::ToInteger("3000000000"), EDxfStructure);
}

}  // namespace
}  // namespace cadport
