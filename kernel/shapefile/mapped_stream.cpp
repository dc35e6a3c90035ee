#include "kernel/shapefile/mapped_stream.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "kernel/base/exception.h"
#include "kernel/base/messages.h"
#include "kernel/base/utils.h"

namespace cadport {

// One mapping of one file, shared by every reading stream of the process.
// Keyed by the file's identity rather than its name: a file replaced on disk
// (new inode, size or time) gets a fresh mapping.
struct T_sharedView {
  dev_t device = 0;
  ino_t inode = 0;
  int64_t size = 0;
  int64_t mtimeSec = 0;
  int64_t mtimeNsec = 0;
  int32_t refCount = 0;
  int fd = -1;
  void* base = nullptr;
};

namespace {

// The registry lives for the whole process; created on first use so that no
// static initialisation order matters.
struct T_sharedViews {
  std::mutex lock;
  std::vector<std::unique_ptr<T_sharedView>> views;
};

T_sharedViews& Registry() {
  static T_sharedViews* registry = new T_sharedViews();  // never destroyed
  return *registry;
}

[[noreturn]] void RaiseOpenError(const std::string& path, int32_t code, int savedErrno) {
  errno = savedErrno;
  const std::string osText = LastOSErrorText();
  const EGIS_Exception formatted(GIS_RS_ERR_FILEMAPPING, path, code);
  throw EFOpenError(std::string(formatted.what()) + ", " + osText, path, code);
}

void CloseView(T_sharedView& view) noexcept {
  if (view.base != nullptr) {
    ::munmap(view.base, static_cast<std::size_t>(view.size));
    view.base = nullptr;
  }
  if (view.fd >= 0) {
    ::close(view.fd);
    view.fd = -1;
  }
}

T_sharedView* AcquireView(const std::string& path) {
  int32_t stage = TGIS_MappedStream::kStageOpen;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) RaiseOpenError(path, stage, errno);

  stage = TGIS_MappedStream::kStageSize;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    RaiseOpenError(path, stage, err);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    RaiseOpenError(path, stage, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
  }

  T_sharedViews& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  for (auto& view : registry.views) {
    if (view->device == st.st_dev && view->inode == st.st_ino &&
        view->size == static_cast<int64_t>(st.st_size) &&
        view->mtimeSec == static_cast<int64_t>(st.st_mtim.tv_sec) &&
        view->mtimeNsec == static_cast<int64_t>(st.st_mtim.tv_nsec)) {
      ::close(fd);
      ++view->refCount;
      return view.get();
    }
  }

  auto view = std::make_unique<T_sharedView>();
  view->device = st.st_dev;
  view->inode = st.st_ino;
  view->size = static_cast<int64_t>(st.st_size);
  view->mtimeSec = static_cast<int64_t>(st.st_mtim.tv_sec);
  view->mtimeNsec = static_cast<int64_t>(st.st_mtim.tv_nsec);
  view->refCount = 1;
  view->fd = fd;

  // A file of size 0 cannot be mapped.
  stage = TGIS_MappedStream::kStageMapping;
  if (view->size <= 0) {
    CloseView(*view);
    RaiseOpenError(path, stage, EINVAL);
  }
  stage = TGIS_MappedStream::kStageView;
  void* base = ::mmap(nullptr, static_cast<std::size_t>(view->size), PROT_READ, MAP_SHARED, fd, 0);
  if (base == MAP_FAILED) {
    const int err = errno;
    CloseView(*view);
    RaiseOpenError(path, stage, err);
  }
  view->base = base;
  registry.views.push_back(std::move(view));
  return registry.views.back().get();
}

void ReleaseView(T_sharedView* entry) noexcept {
  if (entry == nullptr) return;
  T_sharedViews& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  auto it = std::find_if(registry.views.begin(), registry.views.end(),
                         [entry](const auto& v) { return v.get() == entry; });
  if (it == registry.views.end()) return;
  if (--(*it)->refCount <= 0) {
    CloseView(**it);
    registry.views.erase(it);
  }
}

}  // namespace

TGIS_MappedStream::TGIS_MappedStream(const std::string& path, bool writable) : path_(path) {
  if (writable) {
    file_ = std::fopen(path.c_str(), "wb+");
    if (file_ == nullptr) RaiseOpenError(path, 0, errno);
    position_ = -1;
    size_ = -1;
    return;
  }
  view_ = AcquireView(path);
  memory_ = static_cast<const char*>(view_->base);
  size_ = view_->size;
  position_ = 0;
}

TGIS_MappedStream::~TGIS_MappedStream() { ReleaseNoThrow(); }

void TGIS_MappedStream::ReleaseNoThrow() noexcept {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (view_ != nullptr) {
    ReleaseView(view_);
    view_ = nullptr;
    memory_ = nullptr;
  }
}

void TGIS_MappedStream::Close() {
  if (file_ != nullptr) {
    std::FILE* f = file_;
    file_ = nullptr;
    const bool flushed = std::fflush(f) == 0;
    const int flushErr = errno;
    const bool closed = std::fclose(f) == 0;
    if (!flushed || !closed) RaiseOpenError(path_, 0, flushed ? errno : flushErr);
    return;
  }
  if (view_ != nullptr) {
    ReleaseView(view_);
    view_ = nullptr;
    memory_ = nullptr;
  }
}

int64_t TGIS_MappedStream::Read(void* buffer, int64_t count) {
  if (view_ == nullptr || position_ < 0 || count < 0 || position_ >= size_ ||
      count > size_ - position_) {
    throw EGIS_Exception(GIS_RS_ERR_FILEBADFORMAT, path_, 0);
  }
  std::memcpy(buffer, memory_ + position_, static_cast<std::size_t>(count));
  position_ += count;
  return count;
}

int64_t TGIS_MappedStream::Write(const void* buffer, int64_t count) {
  if (file_ == nullptr || count < 0) throw EGIS_Exception(GIS_RS_ERR_FILEWRITE, path_, EBADF);
  const int64_t target = position_ < 0 ? 0 : position_;
  if (::ftello(file_) != static_cast<off_t>(target) &&
      ::fseeko(file_, static_cast<off_t>(target), SEEK_SET) != 0) {
    throw EGIS_Exception(GIS_RS_ERR_FILEWRITE, path_, errno);
  }
  if (count > 0 &&
      std::fwrite(buffer, 1, static_cast<std::size_t>(count), file_) != static_cast<std::size_t>(count)) {
    throw EGIS_Exception(GIS_RS_ERR_FILEWRITE, path_, errno);
  }
  position_ = target + count;
  size_ = std::max<int64_t>(size_, position_);
  return count;
}

int64_t TGIS_MappedStream::Seek(int64_t offset, TGIS_SeekOrigin origin) {
  switch (origin) {
    case TGIS_SeekOrigin::FromBeginning: position_ = offset; break;
    case TGIS_SeekOrigin::FromCurrent: position_ += offset; break;
    case TGIS_SeekOrigin::FromEnd: position_ = size_ - offset; break;
  }
  return position_;
}

void TGIS_MappedStream::AdviseSequential() noexcept {
  if (view_ != nullptr && view_->base != nullptr) {
    ::madvise(view_->base, static_cast<std::size_t>(view_->size), MADV_SEQUENTIAL);
  }
}

int32_t TGIS_MappedStream::ViewRefCount() const {
  if (view_ == nullptr) return 0;
  T_sharedViews& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  return view_->refCount;
}

std::size_t TGIS_MappedStream::SharedViewCount() {
  T_sharedViews& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  return registry.views.size();
}

}  // namespace cadport
