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

}  // namespace
}  // namespace cadport
