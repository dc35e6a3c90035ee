#include "app/interrupt.h"

#include <unistd.h>

#include <csignal>

#include "app/terminal_backend.h"

namespace cadport {
namespace {

volatile std::sig_atomic_t gPending = 0;

extern "C" void OnInterrupt(int signal) {
  if (gPending != 0) {
    TerminalBackend::EmergencyRestore();
    ::_exit(InterruptExitStatus(signal));
  }
  gPending = signal;
}

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a blocking key read returns and looks at the flag
  for (int s : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(s, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  // Beyond a file-size limit a write must fail with an error the import
  // cleans up after, not kill the program with its temporary files left.
  std::signal(SIGXFSZ, SIG_IGN);
}

int PendingInterrupt() noexcept { return gPending; }

void CheckInterrupt() {
  if (const int s = gPending; s != 0) throw TInterrupted(s);
}

void ClearInterrupt() noexcept { gPending = 0; }

}  // namespace cadport
