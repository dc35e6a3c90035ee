#include "kernel/base/utils.h"

#include <gtest/gtest.h>

#include <string>

namespace cadport {
namespace {

TEST(CodePages, SystemCodePageIsUtf8) {
  EXPECT_EQ(SystemCodePage(), 65001);
  EXPECT_TRUE(IsCodePageSupported(0));
}

TEST(CodePages, SupportedTable) {
  for (const int cp : {437, 850, 866, 874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255,
                       1256, 1257, 1258, 28591, 28592, 28605, 65001}) {
    EXPECT_TRUE(IsCodePageSupported(cp)) << cp;
  }
  EXPECT_FALSE(IsCodePageSupported(12345));
  EXPECT_FALSE(IsCodePageSupported(-1));
}

TEST(CodePages, RecodeText) {
  struct Case {
    std::string text;
    int from;
    int to;
    std::string expected;
  } cases[] = {
      {"Stra\xdf" "e", 1252, 65001, "Stra\xc3\x9f" "e"},                  // ß
      {"Stra\xc3\x9f" "e", 65001, 1252, "Stra\xdf" "e"},
      {"\xb9\xe6", 1250, 65001, "\xc4\x85\xc4\x87"},                       // ą ć
      {"\xc4\x85", 65001, 1252, "?"},                                      // ą is not in 1252
      {"\xd0\x96", 65001, 1251, "\xc6"},                                   // Ж
      {"\x80", 1252, 65001, "\xe2\x82\xac"},                               // €
      {"\xe2\x82\xac", 65001, 28591, "?"},                                 // € not in Latin-1
      {"\x82\xa0", 932, 65001, "\xe3\x81\x82"},                            // あ
      {"\xe3\x81\x82", 65001, 932, "\x82\xa0"},
      {"\x8e", 437, 1252, "\xc4"},                                         // Ä
      {"abc", 1252, 65001, "abc"},
      {"a\xff" "b", 65001, 65001, "a\xff" "b"},                            // same page: unchanged
      {"a\xff" "b", 65001, 1252, "a?b"},                                   // undecodable byte
      {"\xc3", 65001, 1252, "?"},                                          // cut-off sequence
      {"", 1252, 65001, ""},
      {"x\xe9", 0, 1252, "x?"},                                           // 0: the system page
      {"abc", 1252, 99999, ""},                                            // unsupported: empty
      {"abc", 99999, 1252, ""},
      {std::string("a\0b", 3), 1252, 65001, std::string("a\0b", 3)},     // embedded zero kept
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RecodeText(c.text, c.from, c.to), c.expected)
        << c.from << " -> " << c.to << " of " << c.text;
  }
}

TEST(CodePages, RecodeLongTextRoundTrips) {
  std::string latin;
  for (int i = 0; i < 5000; ++i) latin.push_back(static_cast<char>(0xC0 + i % 63));
  const std::string utf8 = RecodeText(latin, 1252, 65001);
  EXPECT_EQ(utf8.size(), latin.size() * 2);
  EXPECT_EQ(RecodeText(utf8, 65001, 1252), latin);
}

TEST(CodePages, Wide) {
  const std::u16string wide = u"Gr\u00fc\u00dfe \u20ac \U0001F600";
  EXPECT_EQ(WideToCodePage(wide, 65001), "Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac \xf0\x9f\x98\x80");
  EXPECT_EQ(WideToCodePage(wide, 1252), "Gr\xfc\xdf" "e \x80 ?");
  EXPECT_EQ(WideToCodePage(wide, 4242), "");
  // An unpaired surrogate cannot be encoded.
  EXPECT_EQ(WideToCodePage(std::u16string(1, char16_t(0xD800)) + u"a", 65001), "\xef\xbf\xbd" "a");
  EXPECT_EQ(CodePageToWide("Gr\xc3\xbc\xf0\x9f\x98\x80", 65001), u"Gr\u00fc\U0001F600");
  EXPECT_EQ(CodePageToWide("\xfc", 1252), u"\u00fc");
  EXPECT_EQ(CodePageToWide("\xfc", 65001), u"\ufffd");
}

}  // namespace
}  // namespace cadport
