// Helpers shared by the fuzz targets: a scratch folder for targets that need
// real files, and a sink that keeps the compiler from dropping reads.
#ifndef CADPORT_FUZZ_FUZZ_UTIL_H
#define CADPORT_FUZZ_FUZZ_UTIL_H

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

namespace cadport::fuzz {

// One folder per process, under /dev/shm when it exists (no disk traffic),
// removed at exit.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::error_code ec;
    const char* base = std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : nullptr;
    std::string root = base != nullptr ? base : std::filesystem::temp_directory_path().string();
    std::string pattern = root + "/cadport-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }

  // Replaces the file's content with the bytes given.
  static void Write(const std::string& path, const uint8_t* data, size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) std::abort();
    size_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(fd, data + done, size - done);
      if (n <= 0) std::abort();
      done += size_t(n);
    }
    ::close(fd);
  }

 private:
  std::string path_;
};

// Folds values into a word the target returns through a volatile store, so
// every read value is really computed.
class Sink {
 public:
  void Add(uint64_t v) noexcept { h_ = (h_ ^ v) * 0x100000001B3ull; }
  void Add(std::string_view s) noexcept {
    for (const char c : s) Add(uint64_t(static_cast<unsigned char>(c)));
  }
  void Add(double d) noexcept {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    Add(bits);
  }
  uint64_t Value() const noexcept { return h_; }
  ~Sink() { sink_ = h_; }

 private:
  uint64_t h_ = 0xCBF29CE484222325ull;
  static inline volatile uint64_t sink_ = 0;
};

// Reads a little-endian 16-bit length from the front of the input.
inline size_t TakeLength(const uint8_t*& data, size_t& size) {
  if (size < 2) {
    data += size;
    size = 0;
    return 0;
  }
  const size_t n = size_t(data[0]) | (size_t(data[1]) << 8);
  data += 2;
  size -= 2;
  return n < size ? n : size;
}

}  // namespace cadport::fuzz

#endif  // CADPORT_FUZZ_FUZZ_UTIL_H
