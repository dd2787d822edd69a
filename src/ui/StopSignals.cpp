#include "ui/StopSignals.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

namespace meridane {

namespace {

// The first stop signal, 0 before any; and the presses of Ctrl-C or SIGTERM,
// the second of which ends the program at once.
std::atomic<int> FirstSignal{0};
std::atomic<int> Presses{0};

void OnStopSignal(int signal) {
  int none = 0;
  FirstSignal.compare_exchange_strong(none, signal);
  // A closed terminal may hang up more than once, and a session's end may send
  // SIGTERM after it: a hang-up is never a press.
  if (signal != SIGHUP && Presses.fetch_add(1) >= 1) ::_exit(128 + signal);
}

}  // namespace

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  // A write to a closed pipe fails with EPIPE instead; the stream then writes no more.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

int FirstStopSignal() { return FirstSignal.load(); }

}  // namespace meridane
