// Byte-level helpers shared by the shapefile set's readers and writers:
// fixed-width little- and big-endian encoding, a bounds-checked cursor over
// bytes it does not own, and a buffered file writer whose every write and
// close is checked.
#ifndef CADPORT_KERNEL_SHAPEFILE_BINARY_IO_H
#define CADPORT_KERNEL_SHAPEFILE_BINARY_IO_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace cadport {

// Raise GIS_RS_ERR_FILEBADFORMAT with the path.
[[noreturn]] void ThrowBadFormat(const std::string& path);
// Raise GIS_RS_ERR_FILEWRITE with the path and the errno value.
[[noreturn]] void ThrowWriteError(const std::string& path, int err);
// Raise the kernel's file-open error (EFOpenError, GIS_RS_ERR_FILEMAPPING
// text, code 0) for a file that cannot be created.
[[noreturn]] void ThrowCreateError(const std::string& path, int err);

// ---- fixed-width encoding (by shifts: independent of host order and alignment)

inline uint32_t LoadLE32(const std::byte* p) {
  return std::to_integer<uint32_t>(p[0]) | std::to_integer<uint32_t>(p[1]) << 8 |
         std::to_integer<uint32_t>(p[2]) << 16 | std::to_integer<uint32_t>(p[3]) << 24;
}
inline uint32_t LoadBE32(const std::byte* p) {
  return std::to_integer<uint32_t>(p[3]) | std::to_integer<uint32_t>(p[2]) << 8 |
         std::to_integer<uint32_t>(p[1]) << 16 | std::to_integer<uint32_t>(p[0]) << 24;
}
inline uint16_t LoadLE16(const std::byte* p) {
  return uint16_t(std::to_integer<uint16_t>(p[0]) | std::to_integer<uint16_t>(p[1]) << 8);
}
inline uint64_t LoadLE64(const std::byte* p) {
  return uint64_t{LoadLE32(p)} | uint64_t{LoadLE32(p + 4)} << 32;
}
inline double LoadLEDouble(const std::byte* p) {
  uint64_t bits = LoadLE64(p);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

inline void StoreLE32(std::byte* p, uint32_t v) {
  p[0] = std::byte(v);
  p[1] = std::byte(v >> 8);
  p[2] = std::byte(v >> 16);
  p[3] = std::byte(v >> 24);
}
inline void StoreBE32(std::byte* p, uint32_t v) {
  p[3] = std::byte(v);
  p[2] = std::byte(v >> 8);
  p[1] = std::byte(v >> 16);
  p[0] = std::byte(v >> 24);
}
inline void StoreLE16(std::byte* p, uint16_t v) {
  p[0] = std::byte(v);
  p[1] = std::byte(v >> 8);
}
inline void StoreLEDouble(std::byte* p, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  StoreLE32(p, uint32_t(bits));
  StoreLE32(p + 4, uint32_t(bits >> 32));
}

// Bounds-checked reads over bytes owned by someone else (a mapping, a test's
// buffer).  Every read that would pass the end raises
// GIS_RS_ERR_FILEBADFORMAT with Name() and leaves the position unchanged.
class ByteCursor {
 public:
  ByteCursor() = default;
  ByteCursor(std::span<const std::byte> bytes, std::string name)
      : bytes_(bytes), name_(std::move(name)) {}

  const std::string& Name() const { return name_; }
  std::span<const std::byte> Bytes() const { return bytes_; }
  uint64_t Size() const { return bytes_.size(); }
  uint64_t Position() const { return pos_; }
  uint64_t Remaining() const { return pos_ <= bytes_.size() ? bytes_.size() - pos_ : 0; }
  // Any position may be set; reads validate it.
  void Seek(uint64_t pos) { pos_ = pos; }

  // The next n bytes, in place.  Fails (also for n == 0) at or past the end.
  const std::byte* Take(uint64_t n);
  uint32_t BE32() { return LoadBE32(Take(4)); }
  uint32_t LE32() { return LoadLE32(Take(4)); }
  double LEDouble() { return LoadLEDouble(Take(8)); }

  [[noreturn]] void Fail() const;

 private:
  std::span<const std::byte> bytes_;
  uint64_t pos_ = 0;
  std::string name_;
};

// Drops the cached pages of the regular file at path (when it is one),
// leaving the file as it is: the pages of a file about to be deleted, so
// that the deletion does not wait for that.  Quietly does nothing when the
// file cannot be opened.
void DropCachedPages(const std::string& path) noexcept;

// A file written front to back through a large buffer.  Header fields are
// patched in place at the end (PatchAt).  Every failed system call raises
// GIS_RS_ERR_FILEWRITE with the path and errno; Close() reports a failed
// flush or close, the destructor of an unclosed writer closes silently (the
// owner then removes the file).
class FileWriter {
 public:
  static constexpr size_t kBufferSize = size_t{1} << 20;  // 1 MiB

  // Creates or truncates Path.  Failure: the file-open error of the kernel.
  explicit FileWriter(std::string path);
  ~FileWriter();
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  const std::string& Path() const { return path_; }
  // Bytes written so far (the size the file will have).
  uint64_t Size() const { return size_; }
  bool IsOpen() const { return fd_ >= 0; }

  void Write(const void* data, size_t n);
  // Overwrites bytes already written (for example a header) without moving
  // the end.  REQUIRES: offset + n <= Size().
  void PatchAt(uint64_t offset, const void* data, size_t n);
  // Flushes and closes; raises on failure.  Idempotent.
  void Close();
  // Closes without reporting anything (error paths).
  void Abandon() noexcept;

  [[noreturn]] void FailWrite(int err) const;

 private:
  void Flush();

  std::string path_;
  int fd_ = -1;
  uint64_t size_ = 0;     // logical size, buffer included
  uint64_t flushed_ = 0;  // bytes already handed to the kernel
  std::vector<std::byte> buffer_;
};

}  // namespace cadport

#endif  // CADPORT_KERNEL_SHAPEFILE_BINARY_IO_H
