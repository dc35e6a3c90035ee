#include "app/progress_thread.h"

#include <chrono>
#include <string>

#include "app/crt.h"

namespace cadport {

TProgressThread::TProgressThread(Crt& crt, int column, int row, int width, int delay,
                                 bool createSuspended)
    : crt_(crt), column_(column), row_(row), width_(width), delay_(delay) {
  {
    std::lock_guard lock(crt_.Lock());
    scrollAtStart_ = crt_.ScrollCount();
  }
  if (!createSuspended) Start();
}

TProgressThread::~TProgressThread() {
  Terminate(succeeded_.load());
  WaitFor();
}

void TProgressThread::Start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Execute(); });
}

void TProgressThread::Terminate(bool succeeded) {
  {
    std::lock_guard lock(wakeMutex_);
    succeeded_.store(succeeded);
    terminated_.store(true);
  }
  wake_.notify_all();
}

void TProgressThread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

int TProgressThread::CurrentRow() const { return row_ - (crt_.ScrollCount() - scrollAtStart_); }

void TProgressThread::WaitForStart() {
  if (!thread_.joinable()) return;
  std::unique_lock lock(wakeMutex_);
  wake_.wait(lock, [this] { return started_; });
}

void TProgressThread::Execute() {
  bool run;
  {
    // Decided under the same lock as a stop request, so that WaitForStart
    // returns only once the body is committed to run (or not).
    std::lock_guard lock(wakeMutex_);
    run = !terminated_.load();
    started_ = true;
  }
  wake_.notify_all();
  if (!run) return;
  try {
    Run();
  } catch (...) {
    error_ = std::current_exception();
  }
}

void TProgressThread::Run() {
  const bool draw = !crt_.Plain();
  if (draw) {
    std::lock_guard lock(crt_.Lock());
    crt_.SetCursorShape(0);
  }
  const std::string bar(static_cast<std::size_t>(width_ > 0 ? width_ : 0), kBarByte);
  const std::string mark(1, kBarByte);

  if (draw && width_ >= 2) {
    while (!terminated_.load()) {
      for (int k = 1; k < width_; ++k) {
        {
          std::lock_guard lock(crt_.Lock());
          const int row = CurrentRow();
          if (row >= 1) {
            crt_.MoveCursor(column_, row);
            crt_.SetTextForeground(2);
            crt_.Write(bar);
            crt_.MoveCursor(column_ + k, row);
            crt_.SetTextForeground(14);
            crt_.Write(mark);
          }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_));
      }
    }
  } else {
    // Nothing to animate: wait for the stop request without spinning.
    std::unique_lock lock(wakeMutex_);
    wake_.wait(lock, [this] { return terminated_.load(); });
  }

  std::lock_guard lock(crt_.Lock());
  const char* finalText = succeeded_.load() ? "Done" : "Failed";
  const int row = CurrentRow();
  if (draw && row >= 1) {
    crt_.MoveCursor(column_, row);
    crt_.Write(std::string(bar.size(), ' '));
    crt_.MoveCursor(column_, row);
  } else {
    crt_.EndLine();
  }
  crt_.Write(finalText);
  if (draw) crt_.SetCursorShape(2);
}

}  // namespace cadport
