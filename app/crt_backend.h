#pragma once

// The screen behind the console text device.
//
// The device (Crt) keeps its own model of the screen: its size, the cursor
// and the current attribute.  A backend only carries out what the model
// decides: put a run of characters into cells, scroll, place and show the
// cursor, ring the bell, and deliver key presses.  TerminalBackend renders
// on a real terminal; MemoryBackend keeps the cells for the tests.

#include <cstdint>
#include <span>

namespace cadport {

// A rectangle of 0-based screen cells, bounds included.
struct TCrtWindow {
  int Left = 0;
  int Top = 0;
  int Right = 79;
  int Bottom = 24;
};

// One keyboard event as the console reports it: a virtual-key code (the
// PC keyboard's: 8 backspace, 13 enter, 37 left arrow, 65 A, 112 F1, ...),
// the character the keyboard layout gives for it, and the modifiers held.
struct TCrtKeyEvent {
  std::uint16_t VirtualKey = 0;
  unsigned char Char = 0;
  bool KeyDown = true;
  bool Shift = false;
  bool Ctrl = false;
  bool Alt = false;
};

class CrtBackend {
 public:
  virtual ~CrtBackend() = default;

  // The screen size in cells; at least 1 x 1.
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  // The attribute the screen had when the device opened it (low byte).
  virtual std::uint8_t StartAttribute() const = 0;
  // The cell the cursor stands on when the device opens the screen.
  virtual int StartCursorX() const = 0;
  virtual int StartCursorY() const = 0;

  // Puts glyphs, one cell each, into row y from column x on, all in the
  // attribute.  The run lies inside the screen.
  virtual void WriteCells(int x, int y, std::span<const char32_t> glyphs,
                          std::uint8_t attribute) = 0;
  // Moves the rows of window up by one line: the top row is lost, the
  // bottom row is filled with blanks in the fill attribute.
  virtual void ScrollUp(const TCrtWindow& window, std::uint8_t fill) = 0;
  virtual void SetCursorPosition(int x, int y) = 0;
  // size is the percentage of the cell the cursor fills.
  virtual void SetCursorInfo(int size, bool visible) = 0;
  virtual void Beep() = 0;
  // Makes everything done so far visible (writes out what is buffered).
  virtual void Present() = 0;

  // Waits for the next keyboard event; false when input fails.
  virtual bool ReadKeyEvent(TCrtKeyEvent& event) = 0;

  // Leaves the screen as it was found: default colours, a visible cursor,
  // the input mode of before.  Called once when the device closes.
  virtual void Restore() noexcept = 0;
};

}  // namespace cadport
