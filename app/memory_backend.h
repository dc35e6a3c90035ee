#pragma once

// A screen in memory: cells of a character and an attribute, the cursor,
// and a log of every call, so that tests can check the console device cell
// by cell.  Thread-safe: the progress thread writes while a test may look.

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "app/crt_backend.h"

namespace cadport {

struct TCrtCell {
  char32_t Glyph = U' ';
  std::uint8_t Attribute = 7;
};

// One WriteCells call as the memory backend saw it.
struct TCrtWriteRecord {
  int X = 0;
  int Y = 0;
  std::u32string Glyphs;
  std::uint8_t Attribute = 0;
};

class MemoryBackend : public CrtBackend {
 public:
  MemoryBackend(int width, int height, std::uint8_t attribute = 7, int cursorX = 0,
                int cursorY = 0);

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  std::uint8_t StartAttribute() const override { return startAttribute_; }
  int StartCursorX() const override { return startX_; }
  int StartCursorY() const override { return startY_; }

  void WriteCells(int x, int y, std::span<const char32_t> glyphs, std::uint8_t attribute) override;
  void ScrollUp(const TCrtWindow& window, std::uint8_t fill) override;
  void SetCursorPosition(int x, int y) override;
  void SetCursorInfo(int size, bool visible) override;
  void Beep() override;
  void Present() override {}
  bool ReadKeyEvent(TCrtKeyEvent& event) override;
  void Restore() noexcept override;

  // Queues a keyboard event for ReadKeyEvent; an empty queue fails the read.
  void PushKey(const TCrtKeyEvent& event);

  TCrtCell Cell(int x, int y) const;
  // The glyphs of a row, as UTF-8, trailing blanks kept.
  std::string RowText(int y) const;
  int CursorX() const;
  int CursorY() const;
  int CursorSize() const;
  bool CursorVisible() const;
  int BeepCount() const;
  int ScrollCount() const;
  bool Restored() const;
  std::vector<TCrtWriteRecord> Writes() const;
  // The cursor visibility changes in order (false = hidden).
  std::vector<bool> CursorVisibilityLog() const;

 private:
  mutable std::mutex mutex_;
  int width_;
  int height_;
  std::uint8_t startAttribute_;
  int startX_;
  int startY_;
  std::vector<TCrtCell> cells_;
  int cursorX_;
  int cursorY_;
  int cursorSize_ = 25;
  bool cursorVisible_ = true;
  int beeps_ = 0;
  int scrolls_ = 0;
  bool restored_ = false;
  std::vector<TCrtWriteRecord> writes_;
  std::vector<bool> visibilityLog_;
  std::deque<TCrtKeyEvent> keys_;
};

}  // namespace cadport
