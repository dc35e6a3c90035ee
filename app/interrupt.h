#pragma once

// Interrupts: SIGINT, SIGTERM and SIGHUP only set a flag.  The conversion
// looks at it at its progress points and ends through its error path, so
// temporary files are removed and the terminal is restored; the program
// then exits with 128 + the signal number (130, 143, 129).  A second
// signal ends the program at once, after putting the terminal right.

#include <exception>

namespace cadport {

// Raised at a progress point when an interrupt has arrived.
class TInterrupted : public std::exception {
 public:
  explicit TInterrupted(int signal) : signal_(signal) {}
  const char* what() const noexcept override { return "Interrupted"; }
  int Signal() const noexcept { return signal_; }

 private:
  int signal_;
};

// Installs the handlers for SIGINT, SIGTERM and SIGHUP, and ignores
// SIGPIPE and SIGXFSZ (a closed output pipe or a file-size limit must not
// kill a conversion half-way: the write fails and the run cleans up).
void InstallInterruptHandlers();
// The first interrupt that arrived, 0 when none.
int PendingInterrupt() noexcept;
// Raises TInterrupted when an interrupt has arrived.
void CheckInterrupt();
// The exit status for an interrupt.
inline int InterruptExitStatus(int signal) noexcept { return 128 + signal; }
// Forgets a pending interrupt (for tests).
void ClearInterrupt() noexcept;

}  // namespace cadport
