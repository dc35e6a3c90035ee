#include "kernel/base/messages.h"

#include <array>
#include <charconv>
#include <utility>

namespace cadport {

namespace {

struct CatalogueEntry {
  std::string_view name;
  std::string_view defaultText;
};

constexpr std::array<CatalogueEntry, kMessageKeyCount> kCatalogue = {{
#define GIS_RS_MESSAGE(key, text) {#key, text},
#include "kernel/base/message_catalogue.inc"
#undef GIS_RS_MESSAGE
}};

// The current texts, one per key.  Built on first use (so that no static
// initialisation order matters) with every default in place.
std::array<std::string, kMessageKeyCount>& CurrentTexts() {
  static std::array<std::string, kMessageKeyCount> texts = [] {
    std::array<std::string, kMessageKeyCount> t;
    for (std::size_t i = 0; i < t.size(); ++i) t[i] = std::string(kCatalogue[i].defaultText);
    return t;
  }();
  return texts;
}

}  // namespace

const std::string& MessageText(TGIS_MessageKey key) noexcept {
  static const std::string kEmpty;
  if (key >= kMessageKeyCount) return kEmpty;
  return CurrentTexts()[key];
}

std::string_view MessageKeyName(TGIS_MessageKey key) noexcept {
  if (key >= kMessageKeyCount) return {};
  return kCatalogue[key].name;
}

std::string_view MessageDefaultText(TGIS_MessageKey key) noexcept {
  if (key >= kMessageKeyCount) return {};
  return kCatalogue[key].defaultText;
}

bool FindMessageKey(std::string_view name, TGIS_MessageKey& key) noexcept {
  for (std::size_t i = 0; i < kCatalogue.size(); ++i) {
    if (kCatalogue[i].name == name) {
      key = static_cast<TGIS_MessageKey>(i);
      return true;
    }
  }
  return false;
}

void LocalizeMessages() {
  auto& texts = CurrentTexts();
  for (std::size_t i = 0; i < texts.size(); ++i) texts[i].assign(kCatalogue[i].defaultText);
  LocalizedNotification().Notify();
}

void LocalizeMessages(const TGIS_LocalizeHandler& handler) {
  if (!handler) {
    LocalizeMessages();
    return;
  }
  auto& texts = CurrentTexts();
  for (std::size_t i = 0; i < texts.size(); ++i) handler(texts[i], kCatalogue[i].name);
  LocalizedNotification().Notify();
}

// --- notifier ------------------------------------------------------------------

TGIS_LocalizedNotifcation::EntryId TGIS_LocalizedNotifcation::Add(Handler handler) {
  const EntryId id = nextId_++;
  entries_.push_back({id, std::move(handler)});
  return id;
}

void TGIS_LocalizedNotifcation::Remove(EntryId id) noexcept {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->id == id) {
      entries_.erase(it);
      return;
    }
  }
}

std::size_t TGIS_LocalizedNotifcation::Count() const noexcept { return entries_.size(); }

void TGIS_LocalizedNotifcation::Notify() const {
  // A copy, so that a handler may add or remove entries while we run.
  const std::vector<Entry> entries = entries_;
  for (const Entry& e : entries) {
    if (e.handler) e.handler();
  }
}

TGIS_LocalizedNotifcation& LocalizedNotification() noexcept {
  static TGIS_LocalizedNotifcation notifier;
  return notifier;
}

// --- formatting ----------------------------------------------------------------

namespace {

// Appends text padded to width (blanks on the left, or on the right when
// leftJustify).
void AppendPadded(std::string& out, std::string_view text, std::size_t width, bool leftJustify) {
  const std::size_t pad = width > text.size() ? width - text.size() : 0;
  if (!leftJustify) out.append(pad, ' ');
  out.append(text);
  if (leftJustify) out.append(pad, ' ');
}

// Reads a run of decimal digits as a count; false on overflow.
bool ReadCount(std::string_view t, std::size_t& i, std::size_t& count) {
  count = 0;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
    count = count * 10 + static_cast<std::size_t>(t[i] - '0');
    if (count > 4096) return false;  // no sane message pads further
    ++i;
  }
  return true;
}

bool FormatInto(std::string_view t, std::string_view name, std::int32_t value, std::string& out) {
  int nextArg = 0;  // 0: the name, 1: the value, 2: none left
  for (std::size_t i = 0; i < t.size(); ++i) {
    const char c = t[i];
    if (c != '%') {
      out.push_back(c);
      continue;
    }
    if (++i >= t.size()) return false;
    if (t[i] == '%') {
      out.push_back('%');
      continue;
    }
    bool leftJustify = false;
    if (t[i] == '-') {
      leftJustify = true;
      ++i;
    }
    std::size_t width = 0;
    std::size_t precision = 0;
    bool hasPrecision = false;
    if (!ReadCount(t, i, width)) return false;
    if (i < t.size() && t[i] == '.') {
      ++i;
      hasPrecision = true;
      if (!ReadCount(t, i, precision)) return false;
    }
    if (i >= t.size()) return false;
    const char kind = t[i];
    if (kind == 's' || kind == 'S') {
      if (nextArg != 0) return false;
      std::string_view text = name;
      if (hasPrecision && precision < text.size()) text = text.substr(0, precision);
      AppendPadded(out, text, width, leftJustify);
    } else if (kind == 'd' || kind == 'D' || kind == 'x' || kind == 'X') {
      if (nextArg != 1) return false;
      char digits[16];
      const bool hex = kind == 'x' || kind == 'X';
      const bool negative = !hex && value < 0;
      // Hexadecimal shows the value's 32 bits; decimal its magnitude.
      const std::uint32_t magnitude =
          hex ? static_cast<std::uint32_t>(value)
              : (negative ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value));
      auto res = std::to_chars(digits, digits + sizeof digits, magnitude, hex ? 16 : 10);
      std::string number;
      if (negative) number.push_back('-');
      const std::size_t len = static_cast<std::size_t>(res.ptr - digits);
      if (hasPrecision && precision > len) number.append(precision - len, '0');
      for (std::size_t k = 0; k < len; ++k) {
        number.push_back(hex ? static_cast<char>(digits[k] >= 'a' ? digits[k] - 'a' + 'A' : digits[k])
                             : digits[k]);
      }
      AppendPadded(out, number, width, leftJustify);
    } else {
      return false;
    }
    ++nextArg;
  }
  return true;
}

}  // namespace

bool FormatMessageTemplate(std::string_view templ, std::string_view name, std::int32_t value,
                           std::string& out) {
  out.clear();
  out.reserve(templ.size() + name.size() + 12);
  if (FormatInto(templ, name, value, out)) return true;
  out.assign(templ);
  return false;
}

}  // namespace cadport
