#include "app/crt.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/glyphs.h"
#include "app/terminal_backend.h"

namespace cadport {
namespace {

// One row of the key table: a virtual-key code and the codes it gives
// plain, with Shift, with Ctrl and with Alt.  Below 256 a code is a
// character; kExt + n gives 0 and then n, the key's PC BIOS scan code for
// that modifier; kNone gives nothing.
struct TKeyRow {
  std::uint16_t Key, Plain, Shift, Ctrl, Alt;
};
constexpr std::uint16_t kExt = 256;
constexpr std::uint16_t kNone = 0xFFFF;

constexpr std::array<TKeyRow, 92> kKeyTable = {{
    {8, 8, 8, 127, kExt + 14},                      // backspace
    {9, 9, kExt + 15, kExt + 148, kExt + 165},      // tab
    {13, 13, 13, 10, kExt + 166},                   // enter
    {27, 27, 27, 27, kExt + 1},                     // escape
    {32, 32, 32, 32, 32},                           // space
    {'0', '0', ')', kNone, kExt + 129},
    {'1', '1', '!', kNone, kExt + 120},
    {'2', '2', '@', kExt + 3, kExt + 121},
    {'3', '3', '#', kNone, kExt + 122},
    {'4', '4', '$', kNone, kExt + 123},
    {'5', '5', '%', kNone, kExt + 124},
    {'6', '6', '^', 30, kExt + 125},
    {'7', '7', '&', kNone, kExt + 126},
    {'8', '8', '*', kNone, kExt + 127},
    {'9', '9', '(', kNone, kExt + 128},
    {'A', 'A', 'A', 1, kExt + 30},   {'B', 'B', 'B', 2, kExt + 48},
    {'C', 'C', 'C', 3, kExt + 46},   {'D', 'D', 'D', 4, kExt + 32},
    {'E', 'E', 'E', 5, kExt + 18},   {'F', 'F', 'F', 6, kExt + 33},
    {'G', 'G', 'G', 7, kExt + 34},   {'H', 'H', 'H', 8, kExt + 35},
    {'I', 'I', 'I', 9, kExt + 23},   {'J', 'J', 'J', 10, kExt + 36},
    {'K', 'K', 'K', 11, kExt + 37},  {'L', 'L', 'L', 12, kExt + 38},
    {'M', 'M', 'M', 13, kExt + 50},  {'N', 'N', 'N', 14, kExt + 49},
    {'O', 'O', 'O', 15, kExt + 24},  {'P', 'P', 'P', 16, kExt + 25},
    {'Q', 'Q', 'Q', 17, kExt + 16},  {'R', 'R', 'R', 18, kExt + 19},
    {'S', 'S', 'S', 19, kExt + 31},  {'T', 'T', 'T', 20, kExt + 20},
    {'U', 'U', 'U', 21, kExt + 22},  {'V', 'V', 'V', 22, kExt + 47},
    {'W', 'W', 'W', 23, kExt + 17},  {'X', 'X', 'X', 24, kExt + 45},
    {'Y', 'Y', 'Y', 25, kExt + 21},  {'Z', 'Z', 'Z', 26, kExt + 44},
    {33, kExt + 73, kExt + 73, kExt + 132, kExt + 153},  // page up
    {34, kExt + 81, kExt + 81, kExt + 118, kExt + 161},  // page down
    {35, kExt + 79, kExt + 79, kExt + 117, kExt + 159},  // end
    {36, kExt + 71, kExt + 71, kExt + 119, kExt + 151},  // home
    {37, kExt + 75, kExt + 75, kExt + 115, kExt + 155},  // left
    {38, kExt + 72, kExt + 72, kExt + 141, kExt + 152},  // up
    {39, kExt + 77, kExt + 77, kExt + 116, kExt + 157},  // right
    {40, kExt + 80, kExt + 80, kExt + 145, kExt + 160},  // down
    {45, kExt + 82, kExt + 82, kExt + 146, kExt + 162},  // insert
    {46, kExt + 83, kExt + 83, kExt + 147, kExt + 163},  // delete
    {96, '0', kExt + 82, kExt + 146, kNone},             // keypad 0 .. 9
    {97, '1', kExt + 79, kExt + 117, kNone},
    {98, '2', kExt + 80, kExt + 145, kNone},
    {99, '3', kExt + 81, kExt + 118, kNone},
    {100, '4', kExt + 75, kExt + 115, kNone},
    {101, '5', kExt + 76, kExt + 143, kNone},
    {102, '6', kExt + 77, kExt + 116, kNone},
    {103, '7', kExt + 71, kExt + 119, kNone},
    {104, '8', kExt + 72, kExt + 141, kNone},
    {105, '9', kExt + 73, kExt + 132, kNone},
    {106, '*', '*', kExt + 150, kExt + 55},              // keypad *
    {107, '+', '+', kExt + 144, kExt + 78},              // keypad +
    {109, '-', '-', kExt + 142, kExt + 74},              // keypad -
    {110, '.', kExt + 83, kExt + 147, kNone},            // keypad .
    {111, '/', '/', kExt + 149, kExt + 164},             // keypad /
    {112, kExt + 59, kExt + 84, kExt + 94, kExt + 104},  // F1 .. F10
    {113, kExt + 60, kExt + 85, kExt + 95, kExt + 105},
    {114, kExt + 61, kExt + 86, kExt + 96, kExt + 106},
    {115, kExt + 62, kExt + 87, kExt + 97, kExt + 107},
    {116, kExt + 63, kExt + 88, kExt + 98, kExt + 108},
    {117, kExt + 64, kExt + 89, kExt + 99, kExt + 109},
    {118, kExt + 65, kExt + 90, kExt + 100, kExt + 110},
    {119, kExt + 66, kExt + 91, kExt + 101, kExt + 111},
    {120, kExt + 67, kExt + 92, kExt + 102, kExt + 112},
    {121, kExt + 68, kExt + 93, kExt + 103, kExt + 113},
    {122, kExt + 133, kExt + 135, kExt + 137, kExt + 139},  // F11
    {123, kExt + 134, kExt + 136, kExt + 138, kExt + 140},  // F12
    {220, '\\', '|', 28, kExt + 43},
    {191, '/', '?', kNone, kExt + 53},
    {189, '-', '_', 31, kExt + 130},
    {187, '=', '+', kNone, kExt + 131},
    {219, '[', '{', 27, kExt + 26},
    {221, ']', '}', 29, kExt + 27},
    {186, ';', ':', kNone, kExt + 39},
    {222, '\'', '"', kNone, kExt + 40},
    {188, ',', '<', kNone, kExt + 51},
    {190, '.', '>', kNone, kExt + 52},
    {192, '`', '~', kNone, kExt + 41},
    {91, kNone, kNone, kNone, kNone},  // system keys
    {92, kNone, kNone, kNone, kNone},
    {93, kNone, kNone, kNone, kNone},
}};

const TKeyRow* FindKey(std::uint16_t key) {
  for (const TKeyRow& row : kKeyTable) {
    if (row.Key == key) return &row;
  }
  return nullptr;
}

void WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a closed pipe or a gone terminal: the output is lost
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

}  // namespace

Crt::Crt(std::unique_ptr<CrtBackend> backend) : backend_(std::move(backend)) {
  textAttribute_ = normalAttribute_ = backend_->StartAttribute();
  window_ = TCrtWindow{0, 0, backend_->Width() - 1, backend_->Height() - 1};
  x_ = std::clamp(backend_->StartCursorX(), window_.Left, window_.Right);
  y_ = std::clamp(backend_->StartCursorY(), window_.Top, window_.Bottom);
  lowestRow_ = y_;
}

Crt::Crt(int outputFd, int inputFd) : plainFd_(outputFd), inputFd_(inputFd) {
  lowestRow_ = y_;
}

Crt::~Crt() { Close(); }

std::unique_ptr<Crt> Crt::Open() {
  // A dumb terminal understands no escape sequences: plain lines there too.
  const char* term = std::getenv("TERM");
  if (term == nullptr || std::strcmp(term, "dumb") != 0) {
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) return std::make_unique<Crt>(std::make_unique<TerminalBackend>(fd));
  }
  return std::make_unique<Crt>(STDOUT_FILENO, STDIN_FILENO);
}

void Crt::Close() noexcept {
  if (closed_) return;
  try {
    EndLine();
  } catch (...) {
  }
  if (backend_) backend_->Restore();
  closed_ = true;
}

void Crt::SetTextForeground(int c) {
  textAttribute_ = static_cast<std::uint8_t>((textAttribute_ & 0x70) | (c & 0x8F));
}

void Crt::SetTextBackground(int c) {
  textAttribute_ = static_cast<std::uint8_t>((textAttribute_ & 0x8F) | ((c & 7) << 4));
}

void Crt::RaiseIntensity() { textAttribute_ |= 0x08; }

void Crt::LowerIntensity() { textAttribute_ &= 0xF7; }

void Crt::RestoreNormalAttribute() { textAttribute_ = normalAttribute_; }

void Crt::MoveCursor(int column, int row) {
  const int x = column - 1 + window_.Left;
  const int y = row - 1 + window_.Top;
  if (x < window_.Left || x > window_.Right || y < window_.Top || y > window_.Bottom) return;
  x_ = x;
  y_ = y;
  NoteRow();
  if (backend_) {
    backend_->SetCursorPosition(x_, y_);
    backend_->Present();
  }
}

void Crt::SetCursorShape(int shape, int size, bool visible) {
  switch (shape) {
    case -1: break;
    case 0: size = 25, visible = false; break;
    case 1: size = 99, visible = true; break;
    case 2: size = 25, visible = true; break;
    case 3: size = 15, visible = true; break;
    default: return;
  }
  if (backend_) {
    backend_->SetCursorInfo(size, visible);
    backend_->Present();
  }
}

void Crt::Write(std::string_view text) {
  while (!text.empty()) {
    const std::size_t room = kBufferSize - buffer_.size();
    const std::size_t take = std::min(room, text.size());
    buffer_.append(text.substr(0, take));
    text.remove_prefix(take);
    if (buffer_.size() >= kBufferSize) Process(false);
  }
  Flush();
}

void Crt::WriteLine(std::string_view text) {
  // One write statement: the text and its line break, then one flush.
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text);
  line.append("\r\n");
  Write(line);
}

void Crt::Flush() { Process(true); }

void Crt::NoteRow() {
  if (y_ > lowestRow_) {
    lowestRow_ = y_;
    lowestDirty_ = false;
  }
}

void Crt::Process(bool final) {
  if (Plain()) {
    // The plain text follows the same decoding; only line feeds break lines.
    std::size_t keep = 0;
    if (!final) {
      // Hold back a character cut by the buffer's end.
      for (std::size_t i = buffer_.size(); i > 0 && buffer_.size() - i < 4; --i) {
        char32_t g;
        std::size_t len;
        if (DecodeGlyph(buffer_.data() + i - 1, buffer_.size() - (i - 1), false, g, len) ==
            TGlyphDecode::kIncomplete) {
          keep = buffer_.size() - (i - 1);
          break;
        }
      }
    }
    EmitPlain(std::string_view(buffer_).substr(0, buffer_.size() - keep));
  }

  std::size_t i = 0;
  const std::size_t n = buffer_.size();
  bool waitForMore = false;  // the rest of a character comes with the next bytes
  while (i < n && !waitForMore) {
    const auto b = static_cast<unsigned char>(buffer_[i]);
    switch (b) {
      case 0x07:
        WriteRun();
        if (backend_) backend_->Beep();
        ++i;
        break;
      case 0x08:
        WriteRun();
        if (x_ > window_.Left) --x_;
        ++i;
        break;
      case 0x0A:
        WriteRun();
        ++y_;
        ++i;
        break;
      case 0x0D:
        WriteRun();
        x_ = window_.Left;
        ++i;
        break;
      default: {
        char32_t glyph;
        std::size_t length;
        if (DecodeGlyph(buffer_.data() + i, n - i, final, glyph, length) ==
            TGlyphDecode::kIncomplete) {
          waitForMore = true;
          break;
        }
        run_.push_back(glyph);
        ++x_;
        i += length;
        break;
      }
    }
    if (run_.size() == kMaxRun) WriteRun();
    if (x_ > window_.Right) {
      WriteRun();
      x_ = window_.Left;
      ++y_;
    }
    if (y_ > window_.Bottom) {
      WriteRun();
      ScrollWindowUp();
      --y_;
    }
    NoteRow();
  }
  buffer_.erase(0, i);
  WriteRun();
  if (backend_) {
    backend_->SetCursorPosition(x_, y_);
    backend_->Present();
  }
}

void Crt::WriteRun() {
  if (run_.empty()) return;
  const int start = x_ - static_cast<int>(run_.size());
  if (backend_) backend_->WriteCells(start, y_, run_, textAttribute_);
  if (y_ == lowestRow_) lowestDirty_ = true;
  run_.clear();
}

void Crt::ScrollWindowUp() {
  if (backend_) backend_->ScrollUp(window_, textAttribute_);
  ++scrollCount_;
  --lowestRow_;
}

void Crt::EmitPlain(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + 8);
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b == 0x0A) {
      out.push_back('\n');
      plainAtLineStart_ = true;
      ++i;
      continue;
    }
    if (b == 0x07 || b == 0x08 || b == 0x0D) {  // no bell and no cursor movement in a log
      ++i;
      continue;
    }
    char32_t glyph;
    std::size_t length;
    DecodeGlyph(bytes.data() + i, bytes.size() - i, true, glyph, length);
    AppendUtf8(out, glyph);
    plainAtLineStart_ = false;
    i += length;
  }
  WriteAll(plainFd_, out.data(), out.size());
}

void Crt::EndLine() {
  if (Plain()) {
    if (!plainAtLineStart_) Write("\r\n");
    return;
  }
  if (y_ < lowestRow_) {
    x_ = window_.Left;
    y_ = lowestRow_;
  }
  if (x_ != window_.Left || lowestDirty_) {
    Write("\r\n");
  } else {
    backend_->SetCursorPosition(x_, y_);
    backend_->Present();
  }
}

bool Crt::ReadEvent(TCrtKeyEvent& event) {
  if (backend_) return backend_->ReadKeyEvent(event);
  return false;
}

int Crt::ReadKeyCode() {
  readFailed_ = false;
  if (pendingKey_ != 0xFFFF) {
    const int code = pendingKey_ & 0xFF;
    pendingKey_ = 0xFFFF;
    return code;
  }
  if (Plain()) {
    // Without a keyboard, key codes are the bytes of standard input.
    unsigned char c;
    for (;;) {
      const ssize_t n = ::read(inputFd_, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n != 1) break;
      return c;
    }
    readFailed_ = true;
    return 0xFF;
  }
  for (;;) {
    TCrtKeyEvent event;
    if (!ReadEvent(event)) {
      readFailed_ = true;
      return 0xFF;
    }
    if (!event.KeyDown) continue;
    const TKeyRow* row = FindKey(event.VirtualKey);
    if (row == nullptr) continue;
    std::uint16_t code;
    if (event.Alt) {
      code = row->Alt;
    } else if (event.Ctrl) {
      code = row->Ctrl;
    } else if (event.Shift) {
      code = row->Shift;
    } else if (event.VirtualKey >= 'A' && event.VirtualKey <= 'Z') {
      code = event.Char;  // so that Caps Lock counts
    } else {
      code = row->Plain;
    }
    if (code == kNone) continue;
    if (code >= kExt) {
      pendingKey_ = static_cast<std::uint16_t>(code - kExt);
      return 0;
    }
    if (code == 0 && event.Char != 0) return event.Char;
    return code;
  }
}

std::string Crt::FillInputBuffer() {
  std::string buffer;
  while (buffer.size() < kBufferSize) {
    const int c = ReadKeyCode();
    if (readFailed_) break;  // no more input: the line ends here
    if (c == 0) {
      if (pendingKey_ != 0xFFFF) ReadKeyCode();  // extended keys are ignored
    } else if (c == 0x08) {
      if (!buffer.empty()) {
        Write("\b \b");
        buffer.pop_back();
      }
    } else if (c == 0x0D) {
      buffer.push_back('\r');
      if (buffer.size() < kBufferSize) buffer.push_back('\n');
      WriteLine();
      break;
    } else if (c == 0x0A || c >= 0x20) {
      const char ch = static_cast<char>(c);
      Write(std::string_view(&ch, 1));
      buffer.push_back(ch);
    }
  }
  return buffer;
}

std::string Crt::ReadLine() {
  std::string line = FillInputBuffer();
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

}  // namespace cadport
