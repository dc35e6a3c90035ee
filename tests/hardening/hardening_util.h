// Helpers of the hardening tests: fixtures as bytes, a scratch folder, and
// opening damaged inputs with the real layers.
#ifndef CADPORT_TESTS_HARDENING_HARDENING_UTIL_H
#define CADPORT_TESTS_HARDENING_HARDENING_UTIL_H

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace cadport::hardening {

using Bytes = std::vector<uint8_t>;

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}
inline void WriteFile(const std::string& path, const Bytes& bytes) {
  WriteFile(path, bytes.data(), bytes.size());
}
inline void WriteFile(const std::string& path, const std::string& text) {
  WriteFile(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

inline std::string DataPath(const std::string& relative) {
  return std::string(CADPORT_TEST_DATA) + "/" + relative;
}

// A fresh folder, removed (whatever its modes) afterwards: under /dev/shm
// when it exists (the tests write thousands of small files), else, or when
// asked for disk space, under the temporary folder.
class Scratch {
 public:
  explicit Scratch(bool onDisk = false) {
    std::error_code ec;
    const std::filesystem::path root = !onDisk && std::filesystem::is_directory("/dev/shm", ec)
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    std::string pattern = (root / "cadport-hardening-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace cadport::hardening

#endif  // CADPORT_TESTS_HARDENING_HARDENING_UTIL_H
