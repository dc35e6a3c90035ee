#include "kernel/vector/block_arena.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define CADPORT_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define CADPORT_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define CADPORT_POISON(p, n) ((void)(p), (void)(n))
#define CADPORT_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace cadport {

namespace {

std::size_t RoundUp(std::size_t n, std::size_t step) { return (n + step - 1) / step * step; }

std::size_t PageSize() {
  static const std::size_t size =
      ::sysconf(_SC_PAGESIZE) > 0 ? static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)) : 4096;
  return size;
}

}  // namespace

TGIS_BlockArena::~TGIS_BlockArena() {
  for (const Chunk& c : chunks_) {
    CADPORT_UNPOISON(c.Base, c.Size);
    ::munmap(c.Base, c.Size);
  }
}

void TGIS_BlockArena::NewChunk(std::size_t atLeast) {
  const std::size_t size = RoundUp(std::max(atLeast, nextChunk_), PageSize());
  if (chunks_.size() == chunks_.capacity()) chunks_.reserve(chunks_.size() * 2 + 8);
  void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  auto* base = static_cast<std::byte*>(p);
  chunks_.push_back({base, size});
  CADPORT_POISON(base, size);
  next_ = base;
  end_ = base + size;
  populated_ = base;
  last_ = nullptr;
  nextChunk_ = std::min(nextChunk_ * 2, kLargestChunk);
}

void TGIS_BlockArena::Populate() noexcept {
  // The pages up to the next step past the free room's start, in one call:
  // advisory (without it, on an older kernel, they come a fault at a time).
  const std::size_t want = RoundUp(static_cast<std::size_t>(next_ - populated_), kPopulateStep);
  const std::size_t size = std::min(want, static_cast<std::size_t>(end_ - populated_));
#ifdef MADV_POPULATE_WRITE
  ::madvise(populated_, size, MADV_POPULATE_WRITE);
#endif
  populated_ += size;
}

std::byte* TGIS_BlockArena::Allocate(std::size_t size) {
  const std::size_t rounded = RoundUp(std::max<std::size_t>(size, 1), kAlignment);
  if (rounded < size) throw std::bad_alloc();
  if (next_ == nullptr || static_cast<std::size_t>(end_ - next_) < rounded) NewChunk(rounded);
  std::byte* block = next_;
  next_ += rounded;
  last_ = block;
  if (next_ > populated_) Populate();
  CADPORT_UNPOISON(block, size);
  return block;
}

bool TGIS_BlockArena::ResizeLast(const std::byte* block, std::size_t size) noexcept {
  if (block == nullptr || block != last_) return false;
  const std::size_t rounded = RoundUp(std::max<std::size_t>(size, 1), kAlignment);
  if (rounded < size || static_cast<std::size_t>(end_ - last_) < rounded) return false;
  CADPORT_POISON(last_, static_cast<std::size_t>(end_ - last_));
  CADPORT_UNPOISON(last_, size);
  next_ = last_ + rounded;
  if (next_ > populated_) Populate();
  return true;
}

void TGIS_BlockArena::Adopt(TGIS_BlockArena& other) {
  if (&other == this || other.chunks_.empty()) return;
  chunks_.insert(chunks_.end(), other.chunks_.begin(), other.chunks_.end());
  other.chunks_.clear();
  other.next_ = nullptr;
  other.end_ = nullptr;
  other.populated_ = nullptr;
  other.last_ = nullptr;
}

std::size_t TGIS_BlockArena::Reserved() const noexcept {
  std::size_t n = 0;
  for (const Chunk& c : chunks_) n += c.Size;
  return n;
}

}  // namespace cadport
