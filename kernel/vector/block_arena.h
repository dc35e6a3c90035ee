// TGIS_BlockArena: memory for the geometry blocks of the shapes a layer
// builds in one go, such as a drawing being read.
//
// Blocks are carved one after the other from large chunks and are never
// given back one by one: the chunks go with the arena. The block carved
// last may grow or shrink in place, which is how a shape under construction
// grows its points. The pages of a chunk are made present a step at a time,
// ahead of the blocks, one call a step (cheaper than a page fault a page).
//
// Not thread-safe: one arena per layer, used by the thread that builds the
// layer's shapes.
#pragma once

#include <cstddef>
#include <vector>

namespace cadport {

class TGIS_BlockArena {
 public:
  // Chunks grow from the first size to the largest, doubling.
  static constexpr std::size_t kFirstChunk = std::size_t{1} << 20;
  static constexpr std::size_t kLargestChunk = std::size_t{16} << 20;
  static constexpr std::size_t kAlignment = 16;
  static constexpr std::size_t kPopulateStep = std::size_t{256} << 10;

  TGIS_BlockArena() = default;
  ~TGIS_BlockArena();
  TGIS_BlockArena(const TGIS_BlockArena&) = delete;
  TGIS_BlockArena& operator=(const TGIS_BlockArena&) = delete;

  // A block of size bytes (at least one), aligned to kAlignment; raises
  // std::bad_alloc when no memory is to be had.
  std::byte* Allocate(std::size_t size);
  // Gives the block carved last the new size, in place; false (nothing
  // changed) for any other block or when its chunk has no room.
  bool ResizeLast(const std::byte* block, std::size_t size) noexcept;
  // Takes over the chunks of other, whose blocks stay where they are; other
  // is left empty. The block carved last stays this arena's own.
  void Adopt(TGIS_BlockArena& other);
  // Bytes in chunks (for tests and statistics).
  std::size_t Reserved() const noexcept;

 private:
  struct Chunk {
    std::byte* Base;
    std::size_t Size;
  };
  void NewChunk(std::size_t atLeast);
  void Populate() noexcept;

  std::vector<Chunk> chunks_;
  std::byte* next_ = nullptr;  // free room of the current chunk
  std::byte* end_ = nullptr;
  std::byte* populated_ = nullptr;  // pages present up to here
  std::byte* last_ = nullptr;       // the block carved last
  std::size_t nextChunk_ = kFirstChunk;
};

}  // namespace cadport
