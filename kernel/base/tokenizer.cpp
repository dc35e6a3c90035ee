#include "kernel/base/tokenizer.h"

#include "kernel/base/utils.h"

namespace cadport {

namespace {

// Trims, then removes one pair of enclosing single quotes and then one pair
// of enclosing double quotes.
std::string_view Unquote(std::string_view token) noexcept {
  std::string_view t = TrimText(token);
  if (t.empty() || t.front() != t.back()) return t;
  if (t.front() == '\'') t = t.size() >= 2 ? t.substr(1, t.size() - 2) : std::string_view{};
  // Only a closed pair: an opening '"' without its partner is kept, and so
  // is the token's last character.
  if (t.size() >= 2 && t.front() == '"' && t.back() == '"') t = t.substr(1, t.size() - 2);
  return t;
}

}  // namespace

void TGIS_Tokenizer::AddToken(std::string_view token) { items_.emplace_back(Unquote(token)); }

void TGIS_Tokenizer::Tokenize(std::string_view text, std::string_view separators,
                              bool quoteAware) {
  items_.clear();
  const std::string_view t = TrimText(text);
  bool inQuotes = false;
  bool afterSeparator = false;
  std::size_t start = 0;  // of the pending token
  for (std::size_t i = 0; i < t.size(); ++i) {
    const char c = t[i];
    if (quoteAware && c == '"') inQuotes = !inQuotes;
    const bool isSeparator =
        separators.find(c) != std::string_view::npos && !(quoteAware && inQuotes);
    if (!isSeparator) {
      afterSeparator = false;
      continue;
    }
    if (!afterSeparator) AddToken(t.substr(start, i - start));
    afterSeparator = true;
    start = i + 1;
  }
  if (start < t.size()) AddToken(t.substr(start));
}

}  // namespace cadport
