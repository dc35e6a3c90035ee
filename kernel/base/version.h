#pragma once

namespace cadport {

// The program's version, as printed in the banner.
extern const char* const kVersion;

}  // namespace cadport
