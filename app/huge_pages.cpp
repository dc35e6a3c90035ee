#include "app/huge_pages.h"

#include <malloc.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
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

// A memory balloon that reports free pages to the host (virtual machines):
// free blocks of huge page size are handed back and every new huge page is
// then faulted in afresh by the host, which costs several times what 4 KiB
// pages recycled inside the guest cost.
[[maybe_unused]] bool FreePagesGoBackToTheHost() {
  constexpr std::size_t kReportingFeature = 5;  // VIRTIO_BALLOON_F_REPORTING
  std::error_code ec;
  const std::filesystem::path driver = "/sys/bus/virtio/drivers/virtio_balloon";
  for (const auto& entry : std::filesystem::directory_iterator(driver, ec)) {
    if (entry.path().filename().string().rfind("virtio", 0) != 0) continue;
    std::ifstream in(entry.path() / "features");
    std::string bits;
    if (std::getline(in, bits) && bits.size() > kReportingFeature && bits[kReportingFeature] == '1')
      return true;
  }
  return false;
}

}  // namespace

void RestartWithHugePageHeap(char** argv) noexcept {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  (void)argv;  // the sanitizers bring their own allocator
#else
  if (argv == nullptr || argv[0] == nullptr) return;
  if (std::getenv(kTunables) != nullptr || std::getenv("LD_PRELOAD") != nullptr) return;
  try {
    if (!HugePagesOnRequest() || FreePagesGoBackToTheHost()) return;
  } catch (...) {
    return;
  }
  if (::setenv(kTunables, "glibc.malloc.hugetlb=1", 1) != 0) return;
  ::execv("/proc/self/exe", argv);
  // Could not start again: go on as we are.
  ::unsetenv(kTunables);
#endif
}

void WidenHeapSteps() noexcept {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  ::mallopt(M_TOP_PAD, 64 << 20);
#endif
}

}  // namespace cadport
