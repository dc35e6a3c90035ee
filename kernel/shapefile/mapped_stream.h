// TGIS_MappedStream: the stream through which the kernel reads its data files.
//
// Opened for reading, the whole file is mapped read-only once per process and
// shared by every stream reading the same file (a registry keyed by the file's
// identity: device, inode, size and modification time, so a file replaced on
// disk is never served from a stale mapping). Reads copy from the mapping, or
// callers take addresses inside it (valid while the stream lives).
// Opened for writing, the file is created and written through a buffered file
// stream, so the shapefile writers use one class for both directions.
#ifndef CADPORT_KERNEL_SHAPEFILE_MAPPED_STREAM_H
#define CADPORT_KERNEL_SHAPEFILE_MAPPED_STREAM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace cadport {

// The error raised for a file that cannot be opened or mapped (the platform's
// file-open error; deliberately not an EGIS_Exception). Its message is the
// GIS_RS_ERR_FILEMAPPING text formatted with the path and a stage code,
// followed by ", " and the operating system's error text.
class EFOpenError : public std::runtime_error {
 public:
  EFOpenError(const std::string& message, std::string path, int32_t code)
      : std::runtime_error(message), path_(std::move(path)), code_(code) {}
  const std::string& Path() const noexcept { return path_; }
  // Stage code of the failed open step (1000000 .. 4000000), 0 for writing.
  int32_t Code() const noexcept { return code_; }

 private:
  std::string path_;
  int32_t code_;
};

enum class TGIS_SeekOrigin : uint8_t {
  FromBeginning = 0,
  FromCurrent = 1,
  FromEnd = 2,
};

struct T_sharedView;

class TGIS_MappedStream {
 public:
  // Stage codes reported in the open error of a read-only stream.
  static constexpr int32_t kStageOpen = 1000000;
  static constexpr int32_t kStageSize = 2000000;
  static constexpr int32_t kStageMapping = 3000000;
  static constexpr int32_t kStageView = 4000000;

  // Writable: creates (truncates) the file. Otherwise maps it read-only.
  // Raises EFOpenError on failure.
  TGIS_MappedStream(const std::string& path, bool writable);
  ~TGIS_MappedStream();  // never throws; use Close() to see closing errors

  TGIS_MappedStream(const TGIS_MappedStream&) = delete;
  TGIS_MappedStream& operator=(const TGIS_MappedStream&) = delete;

  // Copies Count bytes at Position into buffer and advances. Raises
  // GIS_RS_ERR_FILEBADFORMAT (Path) when the bytes are not all there; any
  // read at the end of the data, even of zero bytes, raises; the position
  // then does not move.
  int64_t Read(void* buffer, int64_t count);

  // Writing only: writes at Position, then Position and Size follow the file.
  // A failed write raises GIS_RS_ERR_FILEWRITE with Path and errno.
  int64_t Write(const void* buffer, int64_t count);

  // From the end the new position is Size - offset. Nothing is validated here.
  int64_t Seek(int64_t offset, TGIS_SeekOrigin origin);

  // Reads one line from Position: the bytes up to the first NUL, LF, CR or
  // Ctrl-Z (or the end), then skips at most one each of CR, LF, NUL, Ctrl-Z in
  // that order. The result points into the mapping (no copy).
  std::string_view ReadLine() noexcept {
    if (position_ < 0 || position_ >= size_) return {};
    const char* const base = memory_;
    const int64_t end = size_;
    int64_t p = position_;
    while (p < end) {
      const unsigned char c = static_cast<unsigned char>(base[p]);
      if (c <= 0x1A && (c == 0x0A || c == 0x0D || c == 0x00 || c == 0x1A)) break;
      ++p;
    }
    std::string_view line(base + position_, static_cast<std::size_t>(p - position_));
    if (p < end && base[p] == '\r') ++p;
    if (p < end && base[p] == '\n') ++p;
    if (p < end && base[p] == '\0') ++p;
    if (p < end && base[p] == '\x1A') ++p;
    position_ = p;
    return line;
  }

  // Releases the view (reading) or flushes and closes the file (writing).
  // Raises EFOpenError with code 0 when that fails. Idempotent.
  void Close();

  // Hints that the mapping will be read front to back (the DXF reader).
  void AdviseSequential() noexcept;

  const std::string& Path() const noexcept { return path_; }
  int64_t Position() const noexcept { return position_; }
  void SetPosition(int64_t position) noexcept { position_ = position; }
  int64_t Size() const noexcept { return size_; }
  bool Writable() const noexcept { return file_ != nullptr; }
  // Reading only: first byte of the mapped file; nullptr for writing streams.
  const char* Memory() const noexcept { return memory_; }

  // Number of streams sharing this stream's view (0 for writing streams).
  int32_t ViewRefCount() const;
  // Number of views currently registered in the process.
  static std::size_t SharedViewCount();

 private:
  void ReleaseNoThrow() noexcept;

  std::string path_;
  std::FILE* file_ = nullptr;         // writing only, owned
  const char* memory_ = nullptr;      // reading only, borrowed from view_
  T_sharedView* view_ = nullptr;      // reading only, one reference held
  int64_t position_ = 0;
  int64_t size_ = 0;
};

}  // namespace cadport

#endif  // CADPORT_KERNEL_SHAPEFILE_MAPPED_STREAM_H
