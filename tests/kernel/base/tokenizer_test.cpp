#include "kernel/base/tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cadport {
namespace {

using Tokens = std::vector<std::string>;

Tokens Split(std::string_view text, std::string_view separators, bool quoteAware = false) {
  TGIS_Tokenizer t;
  t.Tokenize(text, separators, quoteAware);
  return t.Items();
}

TEST(Tokenizer, Separators) {
  struct Case {
    const char* text;
    const char* separators;
    bool quoteAware;
    Tokens expected;
  } cases[] = {
      {"A=B", "=", false, {"A", "B"}},
      {"A==B", "=", false, {"A", "B"}},         // runs of separators act as one
      {"=A", "=", false, {"", "A"}},            // a leading separator gives an empty token
      {"A=", "=", false, {"A"}},                // a trailing one adds nothing
      {"", "=", false, {}},
      {"   ", "=", false, {}},
      {"=", "=", false, {""}},
      {"  A = B  ", "=", false, {"A", "B"}},    // text and tokens trimmed
      {"a,b;c", ",;", false, {"a", "b", "c"}},  // any of the separators
      {"a,;b", ",;", false, {"a", "b"}},
      {"1:2::3:", ":", false, {"1", "2", "3"}},
      {"a,\"b,c\",d", ",", true, {"a", "b,c", "d"}},
      {"a,\"b,c\",d", ",", false, {"a", "\"b", "c\"", "d"}},
      {"x=\"p=q\"", "=", true, {"x", "p=q"}},
      {"'quoted',''", ",", false, {"quoted", ""}},  // two single quotes unquote to nothing
      {"''", ",", false, {""}},
      {"'\"both\"'", ",", false, {"both"}},      // single quotes, then double quotes
      {"\"a\"\"", ",", false, {"a\""}},              // one enclosing pair removed
      {"'x", ",", false, {"'x"}},                // unbalanced: kept
      {"\"open,x\"", ",", false, {"\"open", "x\""}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Split(c.text, c.separators, c.quoteAware), c.expected) << c.text;
  }
}

TEST(Tokenizer, UnquotingKeepsUnbalancedText) {
  // A token starting with a double quote but ending otherwise keeps its
  // last character.
  EXPECT_EQ(Split("'\"abc'", ","), Tokens{"\"abc"});
  EXPECT_EQ(Split("'\"'", ","), Tokens{"\""});
}

TEST(Tokenizer, ReusesAndReplacesItems) {
  TGIS_Tokenizer t;
  t.Tokenize("a b c", " ");
  ASSERT_EQ(t.Count(), 3u);
  EXPECT_EQ(t[2], "c");
  t.Tokenize("x", " ");
  EXPECT_EQ(t.Items(), Tokens{"x"});
}

}  // namespace
}  // namespace cadport
