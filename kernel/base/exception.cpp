#include "kernel/base/exception.h"

namespace cadport {

std::int32_t MessageErrorCode(std::string_view templ) noexcept {
  if (templ.size() < 3) return 0;
  std::int32_t code = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    const char c = templ[i];
    if (c < '0' || c > '9') return 0;
    code = code * 10 + (c - '0');
  }
  return code;
}

EGIS_Exception::EGIS_Exception(TGIS_MessageKey key, std::string_view name, std::int32_t value)
    : EGIS_Exception(std::string_view(MessageText(key)), name, value) {}

EGIS_Exception::EGIS_Exception(std::string_view templ, std::string_view name, std::int32_t value)
    : errorCode_(MessageErrorCode(templ)), name_(name), value_(value) {
  FormatMessageTemplate(templ, name, value, message_);
}

}  // namespace cadport
