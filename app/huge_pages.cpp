#include "app/huge_pages.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace cadport {
namespace {

[[maybe_unused]] constexpr const char* kTunables = "GLIBC_TUNABLES";

[[maybe_unused]] bool HugePagesOnRequest() {
  std::ifstream in("/sys/kernel/mm/transparent_hugepage/enabled");
  const std::string modes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return modes.find("[madvise]") != std::string::npos;
}

}  // namespace

void RestartWithHugePageHeap(char** argv) noexcept {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  (void)argv;  // the sanitizers bring their own allocator
#else
  if (argv == nullptr || argv[0] == nullptr) return;
  if (std::getenv(kTunables) != nullptr || std::getenv("LD_PRELOAD") != nullptr) return;
  try {
    if (!HugePagesOnRequest()) return;
  } catch (...) {
    return;
  }
  if (::setenv(kTunables, "glibc.malloc.hugetlb=1", 1) != 0) return;
  ::execv("/proc/self/exe", argv);
  // Could not start again: go on as we are.
  ::unsetenv(kTunables);
#endif
}

}  // namespace cadport
