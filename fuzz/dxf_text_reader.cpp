// Fuzz target: the DXF group reader on text drawings.
#include <cstddef>
#include <cstdint>

#include "fuzz/dxf_read_groups.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cadport::fuzz::ReadAllGroups(reinterpret_cast<const char*>(data), int64_t(size));
  return 0;
}
