#include "kernel/base/version.h"

namespace cadport {

const char* const kVersion = "0.1.0";

}  // namespace cadport
