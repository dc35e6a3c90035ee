// Text lines of every length and content: each value ends exactly at its
// own terminator, whatever bytes (control bytes, UTF-8) it holds and
// wherever the terminator falls.
#include "kernel/dxf/dxf_group_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace cadport {
namespace {

TEST(DxfGroupReaderLines, RandomValuesEndAtTheirTerminators) {
  // Every byte except the four that end a line.
  std::string alphabet;
  for (int c = 1; c < 256; ++c) {
    if (c != 0x0A && c != 0x0D && c != 0x1A) alphabet += static_cast<char>(c);
  }
  const char* terminators[] = {"\n", "\r\n", "\r", std::string_view("\0", 1).data()};
  std::mt19937 rng(11);
  std::string text;
  std::vector<std::pair<int, std::string>> groups;
  for (int i = 0; i < 4000; ++i) {
    const int code = static_cast<int>(rng() % 1100);
    const std::size_t length = rng() % 41;
    std::string value;
    for (std::size_t k = 0; k < length; ++k) value += alphabet[rng() % alphabet.size()];
    // No NUL after a code line; a lone CR only before a value that is not
    // empty (CR then an empty value's LF would read as one CR LF).
    const std::size_t t1 = rng() % (value.empty() ? 2 : 3);
    // An empty value never ends in NUL: a NUL right after the code line's
    // terminator belongs to that terminator.
    const std::size_t t2 = rng() % (value.empty() ? 3 : 4);
    std::string codeText = std::string(rng() % 3, ' ') + std::to_string(code);
    text += codeText + terminators[t1];
    text += value;
    text += t2 == 3 ? std::string(1, '\0') : std::string(terminators[t2]);
    groups.emplace_back(code, value);
  }
  // The last value runs to the end of the data without a terminator.
  text += "  1\n";
  text += "last value \x01\xC3\xA9";
  groups.emplace_back(1, "last value \x01\xC3\xA9");

  TGIS_DxfGroupReader reader;
  reader.Reset(text.data(), static_cast<int64_t>(text.size()));
  for (std::size_t i = 0; i < groups.size(); ++i) {
    ASSERT_FALSE(reader.AtEnd()) << i;
    reader.ReadGroup();
    ASSERT_EQ(reader.GroupCode(), groups[i].first) << i;
    ASSERT_EQ(reader.GroupValue(), groups[i].second) << i;
  }
  EXPECT_TRUE(reader.AtEnd());
}

// Code lines: blanks, an optional sign and digits, nothing else; the usual
// short ones and the unusual ones are read alike.
TEST(DxfGroupReaderLines, CodeLinesOfEveryShape) {
  struct Case {
    std::string line;
    bool valid;
    int32_t code;
  };
  const Case cases[] = {
      {"0", true, 0},          {"  10", true, 10},        {"\t 8", true, 8},
      {"999999999", true, 999999999},                    {"0000000001000", true, 1000},
      {"+5", true, 5},         {"-3", true, -3},          {" -1001", true, -1001},
      {"2147483647", true, 2147483647},                   {"2147483648", false, 0},
      {"10 ", false, 0},       {"1O", false, 0},          {"", false, 0},
      {" ", false, 0},         {"1.0", false, 0},         {"--1", false, 0},
  };
  for (const Case& c : cases) {
    for (const char* end : {"\n", "\r\n", "\r"}) {
      SCOPED_TRACE("'" + c.line + "'");
      const std::string text = c.line + end + "value\n";
      TGIS_DxfGroupReader reader;
      reader.Reset(text.data(), static_cast<int64_t>(text.size()));
      if (c.valid) {
        reader.ReadGroup();
        EXPECT_EQ(reader.GroupCode(), c.code);
        EXPECT_EQ(reader.GroupValue(), "value");
        EXPECT_EQ(reader.ItemsRead(), 2);
      } else {
        EXPECT_THROW(reader.ReadGroup(), EDxfStructure);
        EXPECT_EQ(reader.ItemsRead(), 1);
      }
    }
  }
}

}  // namespace
}  // namespace cadport
