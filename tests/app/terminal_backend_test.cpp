#include "app/terminal_backend.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <string>

#include <gtest/gtest.h>

#include "app/crt.h"

namespace cadport {
namespace {

TEST(TerminalKeys, SequencesBecomeKeyEvents) {
  struct Case {
    std::string in;
    std::size_t taken;
    std::uint16_t key;
    unsigned char ch;
    bool shift, ctrl, alt;
  };
  const Case cases[] = {
      {"a", 1, 'A', 'a', false, false, false},
      {"Q", 1, 'Q', 'Q', true, false, false},
      {"\x01", 1, 'A', 1, false, true, false},
      {"\x7f", 1, 8, 0x7f, false, false, false},
      {"\r", 1, 13, '\r', false, false, false},
      {"?", 1, 191, '?', true, false, false},
      {"\x1b[D", 3, 37, 0, false, false, false},
      {"\x1b[1;5D", 6, 37, 0, false, true, false},
      {"\x1bOP", 3, 112, 0, false, false, false},
      {"\x1b[24~", 5, 123, 0, false, false, false},
      {"\x1b[3;2~", 6, 46, 0, true, false, false},
      {"\x1b[Z", 3, 9, 0, true, false, false},
      {"\x1b[[A", 4, 112, 0, false, false, false},
      {"\x1bx", 2, 'X', 'x', false, false, true},
      {"\x1b[99~", 5, 0, 0, false, false, false},
      {"\xC3\xA9", 2, 0, 0, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    TCrtKeyEvent e;
    EXPECT_EQ(DecodeTerminalKey(c.in, false, e), c.taken);
    EXPECT_EQ(e.VirtualKey, c.key);
    if (c.key != 0) {
      EXPECT_EQ(e.Char, c.ch);
      EXPECT_EQ(e.Shift, c.shift);
      EXPECT_EQ(e.Ctrl, c.ctrl);
      EXPECT_EQ(e.Alt, c.alt);
    }
  }
  TCrtKeyEvent e;
  EXPECT_EQ(DecodeTerminalKey("\x1b", false, e), 0u);  // may be the start of a sequence
  EXPECT_EQ(DecodeTerminalKey("\x1b[1;", false, e), 0u);
  EXPECT_EQ(DecodeTerminalKey("\x1b", true, e), 1u);
  EXPECT_EQ(e.VirtualKey, 27);
}

TEST(TerminalBackend, ColoursMapToAnsiAndTheStartAttributeIsTheDefault) {
  EXPECT_EQ(TerminalBackend::AttributeSequence(0x07), "\x1b[0m");
  EXPECT_EQ(TerminalBackend::AttributeSequence(0x02), "\x1b[0;32m");
  EXPECT_EQ(TerminalBackend::AttributeSequence(0x0E), "\x1b[0;93m");
  EXPECT_EQ(TerminalBackend::AttributeSequence(0x03), "\x1b[0;36m");
  EXPECT_EQ(TerminalBackend::AttributeSequence(0x61), "\x1b[0;34;43m");
  EXPECT_EQ(TerminalBackend::AttributeSequence(0xC7), "\x1b[0;101m");
}

// A pseudo-terminal the backend draws on; the test reads what it sent.
class PtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(::grantpt(master_), 0);
    ASSERT_EQ(::unlockpt(master_), 0);
    winsize ws{};
    ws.ws_col = 20;
    ws.ws_row = 5;
    ASSERT_EQ(::ioctl(master_, TIOCSWINSZ, &ws), 0);
    slave_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave_, 0);
  }
  void TearDown() override {
    if (master_ >= 0) ::close(master_);
  }
  // Reads what the backend sent until want bytes have come (or nothing
  // more comes for a long while).
  std::string Drain(std::size_t want) {
    std::string got;
    char buf[512];
    pollfd p{master_, POLLIN, 0};
    while (got.size() < want && ::poll(&p, 1, 10000) > 0) {
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, std::size_t(n));
    }
    return got;
  }
  void Expect(const std::string& want) { EXPECT_EQ(Drain(want.size()), want); }
  int master_ = -1;
  int slave_ = -1;
};

TEST_F(PtyTest, DrawsRelativeToItsOwnCursorAndRestoresOnClose) {
  auto backend = std::make_unique<TerminalBackend>(slave_);
  EXPECT_EQ(backend->Width(), 20);
  EXPECT_EQ(backend->Height(), 5);
  Crt crt(std::move(backend));
  EXPECT_EQ(crt.CursorRow(), 5);  // the model starts on the bottom row
  crt.WriteLine("ab");
  Expect("ab\r\n\r\x1b[2K");  // scrolling: line feed, blank line
  crt.SetCursorShape(0);
  crt.MoveCursor(2, 4);
  crt.SetTextForeground(2);
  crt.Write("\xAF");
  Expect("\x1b[?25l\x1b[1A\r\x1b[1C\x1b[0;32m\xC2\xBB");
  crt.Close();
  // Down to the fresh line below the text, the default colours, the cursor shown.
  Expect("\x1b[1B\r\x1b[0m\x1b[?25h");
}

TEST_F(PtyTest, KeysAreReadRawAndTheModeOfBeforeComesBack) {
  termios before{};
  ASSERT_EQ(::tcgetattr(slave_, &before), 0);
  ASSERT_NE(before.c_lflag & ECHO, 0u);
  const int slave = slave_;
  {
    Crt crt(std::make_unique<TerminalBackend>(slave));
    // Type only once the device has put the terminal into raw mode: in
    // line mode the terminal would hold the bytes back, and Ctrl+C would
    // flush them.
    std::thread typist([&] {
      for (int i = 0; i < 2000; ++i) {
        termios now{};
        if (::tcgetattr(slave, &now) == 0 && (now.c_lflag & ICANON) == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      const std::string typed = "a\x1b[D\x03";
      EXPECT_EQ(::write(master_, typed.data(), typed.size()), ssize_t(typed.size()));
    });
    EXPECT_EQ(crt.ReadKeyCode(), 'a');
    EXPECT_EQ(crt.ReadKeyCode(), 0);   // left arrow: 0, then its scan code
    EXPECT_EQ(crt.ReadKeyCode(), 75);
    EXPECT_EQ(crt.ReadKeyCode(), 3);   // Ctrl+C is a key, not a signal
    typist.join();
    termios during{};
    ASSERT_EQ(::tcgetattr(slave, &during), 0);
    EXPECT_EQ(during.c_lflag & (ECHO | ICANON | ISIG), 0u);
    // Keep the terminal open past the device's close to look at its mode.
    slave_ = ::dup(slave);
  }
  termios after{};
  ASSERT_EQ(::tcgetattr(slave_, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  ::close(slave_);
}

}  // namespace
}  // namespace cadport
