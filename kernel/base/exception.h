#pragma once

// The one exception class of the kernel: every failure the kernel detects is
// raised as an EGIS_Exception built from a message template, a name and a
// number.

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "kernel/base/messages.h"

namespace cadport {

class EGIS_Exception : public std::exception {
 public:
  // The usual form: the key's current catalogue text is the template, so a
  // localised text is used as soon as it has been installed.
  explicit EGIS_Exception(TGIS_MessageKey key, std::string_view name = {},
                          std::int32_t value = 0);

  // From a template text.  The template is formatted with [name, value];
  // when that fails the message is the template itself.
  EGIS_Exception(std::string_view templ, std::string_view name, std::int32_t value);

  // The formatted message.
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }

  // The number in the first three characters of the template ("0032 ..."
  // gives 3, "0235 ..." gives 23); 0 when they are not digits.
  std::int32_t ErrorCode() const noexcept { return errorCode_; }
  // The offending object's name (file path, field, layer, operation).
  const std::string& Name() const noexcept { return name_; }
  // The number belonging to the error (OS code, line number); 0 when none.
  std::int32_t Value() const noexcept { return value_; }

 private:
  std::string message_;
  std::int32_t errorCode_ = 0;
  std::string name_;
  std::int32_t value_ = 0;
};

// The error code of a template: the first three characters as a decimal
// number, 0 when they are not three digits.
std::int32_t MessageErrorCode(std::string_view templ) noexcept;

}  // namespace cadport

namespace cadport {

// A text that is not a number: what TextToFloat and TextToInt raise.  An
// EGIS_Exception too, so callers that clean up after any kernel failure
// catch it alike.  The message is "'<text>' is not a valid floating point
// value" (or "... integer value"); Name is the text.
class EGIS_ConvertError : public EGIS_Exception {
 public:
  using EGIS_Exception::EGIS_Exception;
};

}  // namespace cadport
