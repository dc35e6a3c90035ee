// Fuzz target: the DXF group reader on binary drawings.  The input follows
// the 22-byte sentinel; an input whose second byte is 'S' reads as release 12
// (1-byte codes), any other as 2-byte codes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/dxf_read_groups.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static constexpr char kSentinel[] = "AutoCAD Binary DXF\r\n\x1A";  // + its NUL
  constexpr size_t kSentinelSize = sizeof kSentinel;               // 22
  // A buffer of exactly the drawing's size, so the sanitizer sees any read
  // past its end.
  std::vector<char> drawing(kSentinelSize + size);
  std::memcpy(drawing.data(), kSentinel, kSentinelSize);
  if (size > 0) std::memcpy(drawing.data() + kSentinelSize, data, size);
  cadport::fuzz::ReadAllGroups(drawing.data(), int64_t(drawing.size()));
  return 0;
}
