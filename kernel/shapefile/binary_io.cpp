#include "kernel/shapefile/binary_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "kernel/base/exception.h"
#include "kernel/base/messages.h"
#include "kernel/base/utils.h"
#include "kernel/shapefile/mapped_stream.h"

namespace cadport {

void ThrowBadFormat(const std::string& path) {
  throw EGIS_Exception(GIS_RS_ERR_FILEBADFORMAT, path, 0);
}

void ThrowWriteError(const std::string& path, int err) {
  throw EGIS_Exception(GIS_RS_ERR_FILEWRITE, path, err);
}

void ThrowCreateError(const std::string& path, int err) {
  errno = err;
  const std::string osText = LastOSErrorText();
  const EGIS_Exception formatted(GIS_RS_ERR_FILEMAPPING, path, 0);
  throw EFOpenError(std::string(formatted.what()) + ", " + osText, path, 0);
}

void DropCachedPages(const std::string& path) noexcept {
  // Not blocking on a FIFO or a device that happens to carry the name.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

const std::byte* ByteCursor::Take(uint64_t n) {
  // Written so that the check cannot wrap: pos_ may lie anywhere.
  if (pos_ >= bytes_.size() || n > bytes_.size() - pos_) Fail();
  const std::byte* p = bytes_.data() + pos_;
  pos_ += n;
  return p;
}

void ByteCursor::Fail() const { ThrowBadFormat(name_); }

FileWriter::FileWriter(std::string path) : path_(std::move(path)) {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) ThrowCreateError(path_, errno);
  buffer_.reserve(kBufferSize);
}

FileWriter::~FileWriter() { Abandon(); }

void FileWriter::FailWrite(int err) const { ThrowWriteError(path_, err); }

void FileWriter::Flush() {
  const std::byte* p = buffer_.data();
  size_t left = buffer_.size();
  const uint64_t start = flushed_;
  while (left > 0) {
    ssize_t n = ::pwrite(fd_, p, left, off_t(flushed_));
    if (n < 0) {
      if (errno == EINTR) continue;
      FailWrite(errno);
    }
    if (n == 0) FailWrite(ENOSPC);
    p += n;
    left -= size_t(n);
    flushed_ += uint64_t(n);
  }
  buffer_.clear();
  // Starts writing the block to disk now, so that the sync before the
  // commit waits only for the last one.  Advisory: errors show at the sync.
  if (flushed_ > start) {
    ::sync_file_range(fd_, off_t(start), off_t(flushed_ - start), SYNC_FILE_RANGE_WRITE);
  }
}

void FileWriter::Write(const void* data, size_t n) {
  if (fd_ < 0) FailWrite(EBADF);
  auto* src = static_cast<const std::byte*>(data);
  if (buffer_.size() + n > kBufferSize) {
    Flush();
    if (n >= kBufferSize) {  // large blocks go straight through
      buffer_.assign(src, src + n);
      Flush();
      size_ += n;
      return;
    }
  }
  buffer_.insert(buffer_.end(), src, src + n);
  size_ += n;
}

void FileWriter::PatchAt(uint64_t offset, const void* data, size_t n) {
  if (fd_ < 0) FailWrite(EBADF);
  auto* src = static_cast<const std::byte*>(data);
  // The part still in the buffer is patched there, the rest on disk.
  for (size_t i = 0; i < n; ++i) {
    uint64_t at = offset + i;
    if (at >= flushed_) buffer_[size_t(at - flushed_)] = src[i];
  }
  if (offset < flushed_) {
    size_t onDisk = size_t(std::min<uint64_t>(n, flushed_ - offset));
    size_t done = 0;
    while (done < onDisk) {
      ssize_t w = ::pwrite(fd_, src + done, onDisk - done, off_t(offset + done));
      if (w < 0) {
        if (errno == EINTR) continue;
        FailWrite(errno);
      }
      if (w == 0) FailWrite(ENOSPC);
      done += size_t(w);
    }
  }
}

void FileWriter::Close() {
  if (fd_ < 0) return;
  try {
    Flush();
  } catch (...) {
    Abandon();
    throw;
  }
  // On disk before the caller renames it over a previous file: a crash
  // then leaves either the old file or the whole new one.
  while (::fdatasync(fd_) != 0) {
    if (errno == EINTR) continue;
    if (errno == EINVAL || errno == EROFS) break;  // a file that cannot be synced
    const int err = errno;
    Abandon();
    ThrowWriteError(path_, err);
  }
  int fd = fd_;
  fd_ = -1;
  // A full disk or a failing network file system may show only here.
  if (::close(fd) != 0) ThrowWriteError(path_, errno);
}

void FileWriter::Abandon() noexcept {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  buffer_.clear();
}

}  // namespace cadport
