#pragma once

// Crt: the program's console text device.
//
// Everything the program shows goes through one Crt.  On a terminal the
// device keeps its own model of the screen (size, cursor, current colour
// attribute) and does its own output processing: characters go into cells
// in the current attribute, in runs of at most 64 cells; bell, backspace,
// line feed and carriage return move the cursor; a character written into
// the last column wraps at once, and a line feed below the last row scrolls
// the screen up.  Nothing depends on reading the terminal's own cursor.
//
// Without a terminal (plain mode) the same texts go to standard output as
// plain lines: no escape sequences, colours or cursor movement, line breaks
// as LF.  The cursor model still runs, so the cursor queries keep working.
//
// Colours are the console's sixteen: 0 black, 1 blue, 2 green, 3 cyan,
// 4 red, 5 magenta, 6 brown, 7 light grey, 8-15 their bright forms
// (14 yellow).  An attribute holds the foreground in bits 0-3, the
// background in bits 4-6 and the background intensity in bit 7.
//
// Columns and rows of the cursor operations are 1-based and relative to
// Window; the cells of the backend are 0-based.
//
// The device takes no lock of its own.  A caller that writes from more
// than one thread holds Lock() around each move-colour-write unit.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "app/crt_backend.h"

namespace cadport {

class Crt {
 public:
  static constexpr std::size_t kBufferSize = 128;  // bytes of the text buffers
  static constexpr std::size_t kMaxRun = 64;       // cells written in one call

  // A device on a screen backend (terminal or memory).
  explicit Crt(std::unique_ptr<CrtBackend> backend);
  // A device in plain mode: text to outputFd, key codes from inputFd.
  // The descriptors are not owned.
  Crt(int outputFd, int inputFd);
  ~Crt();
  Crt(const Crt&) = delete;
  Crt& operator=(const Crt&) = delete;

  // The device for this process: on the controlling terminal (/dev/tty)
  // when there is one (even when standard output is redirected), otherwise
  // plain mode on standard output.
  static std::unique_ptr<Crt> Open();

  // Ends the current line (EndLine) and leaves the terminal as found.
  // Idempotent; the destructor calls it.
  void Close() noexcept;

  bool Plain() const { return backend_ == nullptr; }
  CrtBackend* Backend() const { return backend_.get(); }
  std::mutex& Lock() { return lock_; }

  // Attributes.
  std::uint8_t TextAttribute() const { return textAttribute_; }
  void SetTextAttribute(std::uint8_t attribute) { textAttribute_ = attribute; }
  std::uint8_t NormalAttribute() const { return normalAttribute_; }
  // Keeps the background (bits 4-6); bits 0-3 and 7 come from c.
  void SetTextForeground(int c);
  // Keeps bits 0-3 and 7; only the low three bits of c count.
  void SetTextBackground(int c);
  void RaiseIntensity();
  void LowerIntensity();
  void RestoreNormalAttribute();

  // Cursor.
  const TCrtWindow& Window() const { return window_; }
  int CursorColumn() const { return x_ - window_.Left + 1; }
  int CursorRow() const { return y_ - window_.Top + 1; }
  // Moves the cursor; a position outside Window is ignored.
  void MoveCursor(int column, int row);
  // Shape -1 takes size and visibility from the arguments; 0 hidden, size
  // 25; 1 visible, 99; 2 visible, 25; 3 visible, 15.  Other shapes are
  // ignored.
  void SetCursorShape(int shape, int size = 25, bool visible = true);

  // Output.  Each call is one write statement: it ends with a flush.
  // WriteLine ends its text with CR LF.
  void Write(std::string_view text);
  void WriteLine(std::string_view text = {});
  void Flush();
  // Moves to the start of a fresh line below everything written so far
  // (the cursor may stand higher, behind a progress line).  Nothing
  // happens when the cursor already stands at the start of such a line.
  void EndLine();
  // Lines the screen has scrolled up since the device opened, so that a
  // writer that remembers a row can follow its text.
  int ScrollCount() const { return scrollCount_; }

  // Input.  ReadKeyCode returns one key code (0-255): extended keys give 0
  // and then their scan code; FFh when input fails.  ReadLine reads an
  // edited line of at most 127 characters, echoed to the output, without
  // its line break.
  int ReadKeyCode();
  std::string ReadLine();
  // The input buffer fill as the device does it: up to kBufferSize bytes,
  // ended by CR LF when Enter was pressed.
  std::string FillInputBuffer();

  // An interrupt ends the program (set false when it must not).
  bool BreakCheck() const { return breakCheck_; }
  void SetBreakCheck(bool on) { breakCheck_ = on; }

 private:
  void Process(bool final);
  void WriteRun();
  void ScrollWindowUp();
  void NoteRow();
  void EmitPlain(std::string_view text);
  bool ReadEvent(TCrtKeyEvent& event);

  std::unique_ptr<CrtBackend> backend_;  // null in plain mode
  int plainFd_ = -1;
  int inputFd_ = -1;
  bool plainAtLineStart_ = true;

  std::uint8_t textAttribute_ = 7;
  std::uint8_t normalAttribute_ = 7;
  TCrtWindow window_;
  int x_ = 0;
  int y_ = 0;
  std::string buffer_;   // bytes not processed yet
  std::u32string run_;   // characters not written yet, ending just before x_
  int scrollCount_ = 0;
  int lowestRow_ = 0;        // the lowest row the cursor has been on
  bool lowestDirty_ = false; // something was written on that row

  std::uint16_t pendingKey_ = 0xFFFF;
  bool readFailed_ = false;
  bool breakCheck_ = true;
  bool closed_ = false;
  std::mutex lock_;
};

}  // namespace cadport
