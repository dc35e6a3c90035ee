#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace cadport {

// Splits a text into tokens at any of a set of separator characters.
//
// The text is trimmed first.  Runs of separators act as one; only a
// separator at the very start yields an empty token, and a trailing one adds
// nothing.  With quoteAware, '"' toggles an in-quotes state in which
// separators are ordinary characters.  Every token is unquoted: trimmed, then
// one pair of enclosing single quotes and then one pair of enclosing double
// quotes removed.
class TGIS_Tokenizer {
 public:
  void Tokenize(std::string_view text, std::string_view separators, bool quoteAware = false);

  // The tokens of the last Tokenize call.
  const std::vector<std::string>& Items() const noexcept { return items_; }
  std::size_t Count() const noexcept { return items_.size(); }
  const std::string& operator[](std::size_t index) const { return items_[index]; }

 private:
  void AddToken(std::string_view token);

  std::vector<std::string> items_;
};

}  // namespace cadport
