#include "app/progress_thread.h"

#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app/crt.h"
#include "app/memory_backend.h"

namespace cadport {
namespace {

struct Screen {
  explicit Screen(int w = 40, int h = 6) {
    auto b = std::make_unique<MemoryBackend>(w, h, 7, 0, 1);
    mem = b.get();
    crt = std::make_unique<Crt>(std::move(b));
  }
  MemoryBackend* mem;
  std::unique_ptr<Crt> crt;
};

// Waits (generously) until the bar has drawn a few steps.
void WaitForSteps(const MemoryBackend& mem, std::size_t steps) {
  for (int i = 0; i < 2000 && mem.Writes().size() < 2 * steps; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_GE(mem.Writes().size(), 2 * steps);
}

TEST(ProgressThread, SweepsRunOverCells2ToWidthThenTheFinalTextStandsAlone) {
  Screen s;
  const std::u32string bar(30, U'»');
  {
    TProgressThread t(*s.crt, 3, 2, 30, 1);
    WaitForSteps(*s.mem, 3);
    t.Terminate();
    t.WaitFor();
  }
  const auto writes = s.mem->Writes();
  // Steps are (bar in green, mark in yellow) pairs; then blanks, then "Done".
  ASSERT_GE(writes.size(), 2u * 29 + 2);
  const std::size_t steps = (writes.size() - 2) / 2;
  EXPECT_EQ(steps % 29, 0u) << "a stop request finishes the sweep";
  for (std::size_t i = 0; i < steps; ++i) {
    SCOPED_TRACE(i);
    const TCrtWriteRecord& b = writes[2 * i];
    const TCrtWriteRecord& m = writes[2 * i + 1];
    EXPECT_EQ(b.X, 2);
    EXPECT_EQ(b.Y, 1);
    EXPECT_EQ(b.Glyphs, bar);
    EXPECT_EQ(b.Attribute, 0x02);
    EXPECT_EQ(m.X, 2 + 1 + int(i % 29));  // never the first cell
    EXPECT_EQ(m.Glyphs, U"»");
    EXPECT_EQ(m.Attribute, 0x0E);
  }
  EXPECT_EQ(writes[writes.size() - 2].Glyphs, std::u32string(30, U' '));
  EXPECT_EQ(s.mem->RowText(1), "  Done" + std::string(26, ' ') + std::string(8, ' '));
  EXPECT_EQ(s.mem->Cell(2, 1).Attribute, 0x0E);  // in the attribute the sweep left
  EXPECT_EQ(s.crt->CursorColumn(), 7);           // just behind the text
  const std::vector<bool> visibility = s.mem->CursorVisibilityLog();
  EXPECT_EQ(visibility, (std::vector<bool>{false, true}));
  EXPECT_EQ(s.mem->CursorSize(), 25);
}

TEST(ProgressThread, AFailedRunEndsWithFailed) {
  Screen s;
  {
    TProgressThread t(*s.crt, 1, 2, 10, 1);
    WaitForSteps(*s.mem, 1);
    t.Terminate(false);
  }
  EXPECT_EQ(s.mem->RowText(1).substr(0, 12), "Failed      ");
}

TEST(ProgressThread, StopBeforeTheBodyStartsLeavesTheConsoleUntouched) {
  Screen s;
  {
    TProgressThread t(*s.crt, 1, 2, 30, 10, /*createSuspended=*/true);
    t.Terminate();
    t.Start();
    t.WaitFor();
  }
  EXPECT_TRUE(s.mem->Writes().empty());
  EXPECT_TRUE(s.mem->CursorVisibilityLog().empty());
}

TEST(ProgressThread, NarrowBarWaitsWithoutDrawing) {
  for (int width : {0, 1}) {
    SCOPED_TRACE(width);
    Screen s;
    {
      // A delay of 0 would spin if the empty sweep were looped.
      TProgressThread t(*s.crt, 1, 2, width, 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      EXPECT_TRUE(s.mem->Writes().empty());
    }
    EXPECT_EQ(s.mem->RowText(1).substr(0, 5), "Done ");
  }
}

TEST(ProgressThread, ErrorLineBelowTheBarScrollsAndTheBarFollows) {
  // The bar on the bottom row: an error line printed below it scrolls the
  // screen, and the final text must land on the bar's line, not the error's.
  Screen s(20, 3);
  s.crt->MoveCursor(1, 3);
  {
    TProgressThread t(*s.crt, 1, 3, 10, 1);
    WaitForSteps(*s.mem, 1);
    {
      std::lock_guard lock(s.crt->Lock());
      s.crt->WriteLine();
      s.crt->WriteLine("error");
    }
    t.Terminate(false);
  }
  EXPECT_EQ(s.mem->RowText(0).substr(0, 10), "Failed    ");
  EXPECT_EQ(s.mem->RowText(1).substr(0, 6), "error ");
}

TEST(ProgressThread, PlainModeWritesOnlyTheFinalText) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  {
    Crt crt(fds[1], -1);
    crt.WriteLine("Creating");
    TProgressThread t(crt, 1, 2, 30, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    t.Terminate();
  }
  ::close(fds[1]);
  std::string got;
  char buf[256];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) got.append(buf, std::size_t(n));
  ::close(fds[0]);
  EXPECT_EQ(got, "Creating\nDone\n");
}

}  // namespace
}  // namespace cadport
