#include "kernel/base/version.h"

namespace cadport {

const char* AppVersion() { return kVersion; }

}  // namespace cadport
