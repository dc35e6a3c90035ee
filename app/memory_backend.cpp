#include "app/memory_backend.h"

#include <algorithm>
#include <cassert>

#include "app/glyphs.h"

namespace cadport {

MemoryBackend::MemoryBackend(int width, int height, std::uint8_t attribute, int cursorX,
                             int cursorY)
    : width_(std::max(width, 1)),
      height_(std::max(height, 1)),
      startAttribute_(attribute),
      startX_(cursorX),
      startY_(cursorY),
      cells_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_),
             TCrtCell{U' ', attribute}),
      cursorX_(cursorX),
      cursorY_(cursorY) {}

void MemoryBackend::WriteCells(int x, int y, std::span<const char32_t> glyphs,
                               std::uint8_t attribute) {
  std::lock_guard lock(mutex_);
  assert(y >= 0 && y < height_ && x >= 0 && x + static_cast<int>(glyphs.size()) <= width_ &&
         "run outside the screen");
  for (std::size_t i = 0; i < glyphs.size(); ++i) {
    cells_[static_cast<std::size_t>(y) * width_ + x + i] = TCrtCell{glyphs[i], attribute};
  }
  writes_.push_back(TCrtWriteRecord{x, y, std::u32string(glyphs.begin(), glyphs.end()), attribute});
}

void MemoryBackend::ScrollUp(const TCrtWindow& w, std::uint8_t fill) {
  std::lock_guard lock(mutex_);
  for (int y = w.Top; y < w.Bottom; ++y) {
    for (int x = w.Left; x <= w.Right; ++x) {
      cells_[static_cast<std::size_t>(y) * width_ + x] =
          cells_[static_cast<std::size_t>(y + 1) * width_ + x];
    }
  }
  for (int x = w.Left; x <= w.Right; ++x) {
    cells_[static_cast<std::size_t>(w.Bottom) * width_ + x] = TCrtCell{U' ', fill};
  }
  ++scrolls_;
}

void MemoryBackend::SetCursorPosition(int x, int y) {
  std::lock_guard lock(mutex_);
  cursorX_ = x;
  cursorY_ = y;
}

void MemoryBackend::SetCursorInfo(int size, bool visible) {
  std::lock_guard lock(mutex_);
  cursorSize_ = size;
  cursorVisible_ = visible;
  visibilityLog_.push_back(visible);
}

void MemoryBackend::Beep() {
  std::lock_guard lock(mutex_);
  ++beeps_;
}

bool MemoryBackend::ReadKeyEvent(TCrtKeyEvent& event) {
  std::lock_guard lock(mutex_);
  if (keys_.empty()) return false;
  event = keys_.front();
  keys_.pop_front();
  return true;
}

void MemoryBackend::Restore() noexcept {
  std::lock_guard lock(mutex_);
  restored_ = true;
}

void MemoryBackend::PushKey(const TCrtKeyEvent& event) {
  std::lock_guard lock(mutex_);
  keys_.push_back(event);
}

TCrtCell MemoryBackend::Cell(int x, int y) const {
  std::lock_guard lock(mutex_);
  return cells_.at(static_cast<std::size_t>(y) * width_ + x);
}

std::string MemoryBackend::RowText(int y) const {
  std::lock_guard lock(mutex_);
  std::u32string row;
  for (int x = 0; x < width_; ++x) row.push_back(cells_.at(static_cast<std::size_t>(y) * width_ + x).Glyph);
  return GlyphsToUtf8(row);
}

int MemoryBackend::CursorX() const {
  std::lock_guard lock(mutex_);
  return cursorX_;
}

int MemoryBackend::CursorY() const {
  std::lock_guard lock(mutex_);
  return cursorY_;
}

int MemoryBackend::CursorSize() const {
  std::lock_guard lock(mutex_);
  return cursorSize_;
}

bool MemoryBackend::CursorVisible() const {
  std::lock_guard lock(mutex_);
  return cursorVisible_;
}

int MemoryBackend::BeepCount() const {
  std::lock_guard lock(mutex_);
  return beeps_;
}

int MemoryBackend::ScrollCount() const {
  std::lock_guard lock(mutex_);
  return scrolls_;
}

bool MemoryBackend::Restored() const {
  std::lock_guard lock(mutex_);
  return restored_;
}

std::vector<TCrtWriteRecord> MemoryBackend::Writes() const {
  std::lock_guard lock(mutex_);
  return writes_;
}

std::vector<bool> MemoryBackend::CursorVisibilityLog() const {
  std::lock_guard lock(mutex_);
  return visibilityLog_;
}

}  // namespace cadport
