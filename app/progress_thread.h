#pragma once

// TProgressThread: a one-line progress bar that shows the program is
// working.  A bar of Width » characters in green with one yellow » running
// over cells 2 to Width, over and over, until the owner asks it to stop;
// then the bar is blanked and the final text ("Done", or "Failed" when the
// owner says the work failed) stands in its place.  The cursor is hidden
// while the bar runs and shown again at the end.
//
// A stop request lets the current sweep finish first.  A request made
// before the thread body starts leaves the console untouched.  In plain
// mode (no terminal) nothing is drawn but the final text.
//
// Every move-colour-write unit holds the console's lock.  If the screen
// scrolls while the bar runs (an error line printed below it), the bar
// follows its text upwards.

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace cadport {

class Crt;

class TProgressThread {
 public:
  static constexpr char kBarByte = '\xAF';  // » in code page 437

  // column and row are 1-based console coordinates of the bar's first
  // cell; delay is the pause after each step in milliseconds.  The thread
  // starts at once unless createSuspended (then Start starts it).
  TProgressThread(Crt& crt, int column, int row, int width, int delay,
                  bool createSuspended = false);
  // Asks the thread to stop (as a success unless Terminate said otherwise)
  // and waits for its end.
  ~TProgressThread();
  TProgressThread(const TProgressThread&) = delete;
  TProgressThread& operator=(const TProgressThread&) = delete;

  void Start();
  // Asks the thread to stop after its current sweep; succeeded chooses the
  // final text.
  void Terminate(bool succeeded = true);
  // Waits until the thread has ended (drawn its final state).
  void WaitFor();
  // Waits until the thread body has begun (or the thread has ended), so
  // that a stop request made afterwards is sure to draw the final text.
  void WaitForStart();
  bool Terminated() const { return terminated_.load(); }
  // The error that ended the thread body, if any; it is never reported.
  std::exception_ptr Error() const { return error_; }

  int Column() const { return column_; }
  int Row() const { return row_; }
  int Width() const { return width_; }
  int Delay() const { return delay_; }

 private:
  void Execute();
  void Run();
  // The bar's row now, after any scrolling; below 1 when it scrolled away.
  int CurrentRow() const;

  Crt& crt_;  // outlives the thread
  const int column_;
  const int row_;
  const int width_;
  const int delay_;
  int scrollAtStart_ = 0;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> succeeded_{true};
  bool started_ = false;  // guarded by wakeMutex_
  std::mutex wakeMutex_;
  std::condition_variable wake_;
  std::exception_ptr error_;
  std::thread thread_;
};

}  // namespace cadport
