#include "app/terminal_backend.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>

#include "app/glyphs.h"

namespace cadport {
namespace {

constexpr int kAnsiOfConsole[8] = {0, 4, 2, 6, 1, 5, 3, 7};

// What a signal handler needs to put the terminal right.
std::atomic<int> gRestoreFd{-1};
std::atomic<bool> gRestoreMode{false};
termios gSavedMode{};

void AppendNumber(std::string& out, int n) {
  char buf[16];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, n);
  (void)ec;
  out.append(buf, end);
}

void AppendCsi(std::string& out, int n, char final) {
  out.append("\x1b[");
  AppendNumber(out, n);
  out.push_back(final);
}

// Key codes of the virtual keys that the terminal sends as characters.
struct TCharKey {
  char Plain, Shifted;
  std::uint16_t Key;
};
constexpr TCharKey kCharKeys[] = {
    {'0', ')', '0'}, {'1', '!', '1'}, {'2', '@', '2'}, {'3', '#', '3'}, {'4', '$', '4'},
    {'5', '%', '5'}, {'6', '^', '6'}, {'7', '&', '7'}, {'8', '*', '8'}, {'9', '(', '9'},
    {'\\', '|', 220}, {'/', '?', 191}, {'-', '_', 189}, {'=', '+', 187}, {'[', '{', 219},
    {']', '}', 221}, {';', ':', 186}, {'\'', '"', 222}, {',', '<', 188}, {'.', '>', 190},
    {'`', '~', 192}, {' ', ' ', 32}};

void CharEvent(unsigned char c, TCrtKeyEvent& e) {
  e.Char = c;
  if (c >= 'a' && c <= 'z') {
    e.VirtualKey = static_cast<std::uint16_t>(c - 'a' + 'A');
    return;
  }
  if (c >= 'A' && c <= 'Z') {
    e.VirtualKey = c;
    e.Shift = true;
    return;
  }
  for (const TCharKey& k : kCharKeys) {
    if (c == static_cast<unsigned char>(k.Plain)) {
      e.VirtualKey = k.Key;
      return;
    }
    if (c == static_cast<unsigned char>(k.Shifted)) {
      e.VirtualKey = k.Key;
      e.Shift = true;
      return;
    }
  }
  switch (c) {
    case 0x7F: case 0x08: e.VirtualKey = 8; break;
    case 0x09: e.VirtualKey = 9; break;
    case 0x0D: e.VirtualKey = 13; break;
    case 0x0A: e.VirtualKey = 13, e.Ctrl = true; break;
    case 0x1B: e.VirtualKey = 27; break;
    case 0x00: e.VirtualKey = '2', e.Ctrl = true; break;
    case 0x1C: e.VirtualKey = 220, e.Ctrl = true; break;
    case 0x1D: e.VirtualKey = 221, e.Ctrl = true; break;
    case 0x1E: e.VirtualKey = '6', e.Ctrl = true; break;
    case 0x1F: e.VirtualKey = 189, e.Ctrl = true; break;
    default:
      if (c >= 0x01 && c <= 0x1A) {
        e.VirtualKey = static_cast<std::uint16_t>('A' + c - 1);
        e.Ctrl = true;
      }
      break;  // anything else is no key of the table
  }
}

void ApplyModifier(int m, TCrtKeyEvent& e) {
  if (m < 2) return;
  --m;
  e.Shift = (m & 1) != 0;
  e.Alt = (m & 2) != 0;
  e.Ctrl = (m & 4) != 0;
}

std::uint16_t TildeKey(int n) {
  switch (n) {
    case 1: case 7: return 36;
    case 2: return 45;
    case 3: return 46;
    case 4: case 8: return 35;
    case 5: return 33;
    case 6: return 34;
    case 11: case 12: case 13: case 14: case 15: return static_cast<std::uint16_t>(112 + n - 11);
    case 17: case 18: case 19: case 20: case 21: return static_cast<std::uint16_t>(117 + n - 17);
    case 23: return 122;
    case 24: return 123;
    default: return 0;
  }
}

std::uint16_t FinalKey(char f) {
  switch (f) {
    case 'A': return 38;
    case 'B': return 40;
    case 'C': return 39;
    case 'D': return 37;
    case 'H': return 36;
    case 'F': return 35;
    case 'P': return 112;
    case 'Q': return 113;
    case 'R': return 114;
    case 'S': return 115;
    default: return 0;
  }
}

}  // namespace

std::size_t DecodeTerminalKey(std::string_view in, bool complete, TCrtKeyEvent& e) {
  e = TCrtKeyEvent{};
  if (in.empty()) return 0;
  const auto c0 = static_cast<unsigned char>(in[0]);
  if (c0 >= 0x80) {
    // A character outside ASCII has no key in the table: take it whole.
    char32_t g;
    std::size_t len;
    DecodeGlyph(in.data(), in.size(), true, g, len);
    return len;
  }
  if (c0 != 0x1B) {
    CharEvent(c0, e);
    return 1;
  }
  if (in.size() == 1) {
    if (!complete) return 0;
    e.VirtualKey = 27;
    return 1;
  }
  const char c1 = in[1];
  if (c1 == '[' || c1 == 'O') {
    // CSI or SS3: parameters, then a final byte.
    if (c1 == '[' && in.size() >= 3 && in[2] == '[') {  // Linux console F1-F5: ESC [ [ A..E
      if (in.size() < 4) return complete ? 3 : 0;
      const char f = in[3];
      if (f >= 'A' && f <= 'E') e.VirtualKey = static_cast<std::uint16_t>(112 + f - 'A');
      return 4;
    }
    int params[4] = {0, 0, 0, 0};
    int count = 0;
    std::size_t i = 2;
    for (; i < in.size(); ++i) {
      const char c = in[i];
      if (c >= '0' && c <= '9') {
        if (count == 0) count = 1;
        if (count <= 4 && params[count - 1] < 10000) params[count - 1] = params[count - 1] * 10 + (c - '0');
      } else if (c == ';') {
        count = (count == 0 ? 1 : count) + 1;
      } else {
        break;
      }
    }
    if (i >= in.size()) return complete ? in.size() : 0;
    const char f = in[i];
    if (f == '~') {
      e.VirtualKey = TildeKey(params[0]);
    } else if (f == 'Z') {
      e.VirtualKey = 9;
      e.Shift = true;
      return i + 1;
    } else {
      e.VirtualKey = FinalKey(f);
    }
    ApplyModifier(count >= 2 ? params[1] : (f != '~' && c1 == 'O' ? params[0] : 0), e);
    return i + 1;
  }
  // ESC and a key: that key with Alt.
  const std::size_t n = DecodeTerminalKey(in.substr(1), complete, e);
  if (n == 0) return 0;
  e.Alt = true;
  return n + 1;
}

TerminalBackend::TerminalBackend(int fd) : fd_(fd) {
  winsize ws{};
  if (::ioctl(fd_, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
    width_ = ws.ws_col;
    height_ = ws.ws_row;
  }
  termX_ = 0;
  termY_ = height_ - 1;
  gRestoreFd.store(fd_);
}

TerminalBackend::~TerminalBackend() {
  Restore();
  gRestoreFd.store(-1);
  ::close(fd_);
}

std::string TerminalBackend::AttributeSequence(std::uint8_t a) {
  if (a == kStartAttribute) return "\x1b[0m";
  std::string s = "\x1b[0";
  const int fg = a & 0x0F;
  const int bg = (a >> 4) & 0x0F;  // bit 7 of the attribute is the background's intensity
  if (fg != (kStartAttribute & 0x0F)) {
    s.push_back(';');
    AppendNumber(s, (fg & 8 ? 90 : 30) + kAnsiOfConsole[fg & 7]);
  }
  if (bg != ((kStartAttribute >> 4) & 0x0F)) {
    s.push_back(';');
    AppendNumber(s, (bg & 8 ? 100 : 40) + kAnsiOfConsole[bg & 7]);
  }
  s.push_back('m');
  return s;
}

void TerminalBackend::SelectAttribute(std::uint8_t a) {
  if (shownAttribute_ == a) return;
  out_.append(AttributeSequence(a));
  shownAttribute_ = a;
}

void TerminalBackend::MoveTo(int x, int y) {
  if (y < termY_) AppendCsi(out_, termY_ - y, 'A');
  if (y > termY_) AppendCsi(out_, y - termY_, 'B');
  termY_ = y;
  if (x != termX_ || wrapPending_) {
    out_.push_back('\r');
    if (x > 0) AppendCsi(out_, x, 'C');
    termX_ = x;
    wrapPending_ = false;
  }
}

void TerminalBackend::WriteCells(int x, int y, std::span<const char32_t> glyphs,
                                 std::uint8_t attribute) {
  if (glyphs.empty()) return;
  MoveTo(x, y);
  SelectAttribute(attribute);
  for (char32_t g : glyphs) AppendUtf8(out_, g);
  termX_ = x + static_cast<int>(glyphs.size());
  if (termX_ >= width_) {
    // The terminal leaves its cursor on the last column until the next character.
    termX_ = width_ - 1;
    wrapPending_ = true;
  }
}

void TerminalBackend::ScrollUp(const TCrtWindow& window, std::uint8_t fill) {
  MoveTo(termX_, window.Bottom);
  // A line feed on the bottom row scrolls; on a terminal whose cursor
  // started higher it moves down instead, which keeps everything shown in
  // the same place relative to the cursor.  The new line is blanked in the
  // fill attribute either way.
  out_.append("\n\r");
  termX_ = 0;
  wrapPending_ = false;
  SelectAttribute(fill);
  out_.append("\x1b[2K");
}

void TerminalBackend::SetCursorPosition(int x, int y) { MoveTo(x, y); }

void TerminalBackend::SetCursorInfo(int /*size*/, bool visible) {
  if (visible == !cursorHidden_) return;
  out_.append(visible ? "\x1b[?25h" : "\x1b[?25l");
  cursorHidden_ = !visible;
}

void TerminalBackend::Beep() { out_.push_back('\a'); }

void TerminalBackend::Present() {
  const char* p = out_.data();
  std::size_t left = out_.size();
  while (left > 0 && !failed_) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;  // the terminal went away: nothing more can be shown
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  out_.clear();
}

void TerminalBackend::EnterRawMode() {
  if (rawMode_) return;
  termios mode{};
  if (::tcgetattr(fd_, &mode) != 0) return;
  savedMode_ = mode;
  gSavedMode = mode;
  mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
  mode.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR);
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  if (::tcsetattr(fd_, TCSANOW, &mode) != 0) return;
  rawMode_ = true;
  gRestoreMode.store(true);
}

bool TerminalBackend::ReadKeyEvent(TCrtKeyEvent& event) {
  Present();
  EnterRawMode();
  for (;;) {
    if (!input_.empty()) {
      std::size_t n = DecodeTerminalKey(input_, false, event);
      if (n == 0) {
        // The bytes end inside a sequence: a lone ESC is the Escape key
        // unless the rest follows at once.
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) n = DecodeTerminalKey(input_, true, event);
      }
      if (n > 0) {
        input_.erase(0, n);
        if (event.VirtualKey != 0) return true;
        continue;
      }
    }
    char buf[64];
    const ssize_t got = ::read(fd_, buf, sizeof buf);
    if (got < 0 && errno == EINTR) return false;  // a signal: let the caller look
    if (got <= 0) return false;
    input_.append(buf, static_cast<std::size_t>(got));
  }
}

void TerminalBackend::Restore() noexcept {
  if (restored_) return;
  restored_ = true;
  try {
    SelectAttribute(kStartAttribute);
    SetCursorInfo(25, true);
    Present();
  } catch (...) {
  }
  if (rawMode_) {
    ::tcsetattr(fd_, TCSANOW, &savedMode_);
    rawMode_ = false;
    gRestoreMode.store(false);
  }
}

void TerminalBackend::EmergencyRestore() noexcept {
  const int fd = gRestoreFd.load();
  if (fd < 0) return;
  static const char kReset[] = "\x1b[0m\x1b[?25h\r\n";
  ssize_t ignored = ::write(fd, kReset, sizeof kReset - 1);
  (void)ignored;
  if (gRestoreMode.load()) ::tcsetattr(fd, TCSANOW, &gSavedMode);
}

}  // namespace cadport
