#pragma once

// The console device's backend on a real terminal (the controlling
// terminal, /dev/tty), drawn with VT sequences.
//
// The device's model starts with the cursor at column 0 of the bottom row.
// The backend moves the terminal's cursor relative to where the model says
// it stands (CR, CUU/CUD, CUF) and scrolls with a line feed at the bottom,
// so text already shown keeps its place relative to the cursor whatever
// row the terminal's cursor really started on.
//
// Colours: console colour n is ANSI colour [0,4,2,6,1,5,3,7][n & 7], bright
// when bit 3 is set; a foreground or background equal to the start-up
// attribute's is the terminal's default colour, so the start-up attribute
// itself is SGR 0 and the user's colour scheme is kept.
//
// Keys are read in raw mode (no echo, no line editing, Ctrl+C as key code
// 3); the mode of before comes back when the backend restores the terminal.

#include <termios.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "app/crt_backend.h"

namespace cadport {

class TerminalBackend : public CrtBackend {
 public:
  // Takes over fd, an open terminal; it is closed by the destructor.
  explicit TerminalBackend(int fd);
  ~TerminalBackend() override;
  TerminalBackend(const TerminalBackend&) = delete;
  TerminalBackend& operator=(const TerminalBackend&) = delete;

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  std::uint8_t StartAttribute() const override { return kStartAttribute; }
  int StartCursorX() const override { return 0; }
  int StartCursorY() const override { return height_ - 1; }

  void WriteCells(int x, int y, std::span<const char32_t> glyphs, std::uint8_t attribute) override;
  void ScrollUp(const TCrtWindow& window, std::uint8_t fill) override;
  void SetCursorPosition(int x, int y) override;
  void SetCursorInfo(int size, bool visible) override;
  void Beep() override;
  void Present() override;
  bool ReadKeyEvent(TCrtKeyEvent& event) override;
  void Restore() noexcept override;

  // For a signal handler that must end the program at once: resets the
  // colours, shows the cursor, ends the line and restores the input mode
  // of the terminal the backend has open.  Async-signal-safe.
  static void EmergencyRestore() noexcept;

  // The SGR sequence that selects an attribute.
  static std::string AttributeSequence(std::uint8_t attribute);

  static constexpr std::uint8_t kStartAttribute = 7;

 private:
  void MoveTo(int x, int y);
  void SelectAttribute(std::uint8_t attribute);
  void EnterRawMode();

  int fd_;
  int width_ = 80;
  int height_ = 25;
  int termX_ = 0;  // where the terminal's cursor stands, in model cells
  int termY_ = 0;
  bool wrapPending_ = false;  // a character went into the last column
  int shownAttribute_ = kStartAttribute;
  bool cursorHidden_ = false;
  bool rawMode_ = false;
  bool failed_ = false;
  bool restored_ = false;
  termios savedMode_{};
  std::string out_;
  std::string input_;  // bytes read but not decoded yet
};

// Decodes the key at the start of the bytes a terminal sent: a character,
// a control byte, or an escape sequence (arrows, Home/End, Insert/Delete,
// Page Up/Down, F1-F12, with xterm modifier parameters; ESC before a key
// means Alt).  Returns the bytes taken, or 0 when the bytes end inside a
// sequence (complete is false) - with complete true a lone ESC is the
// Escape key.  A sequence the table does not know gives VirtualKey 0.
std::size_t DecodeTerminalKey(std::string_view bytes, bool complete, TCrtKeyEvent& event);

}  // namespace cadport
