#include "cli/StopSignals.h"

#include <atomic>
#include <csignal>

namespace tovi::cli {
namespace {

// Written by the handler (any thread the kernel picks), read by the command's main
// thread: a lock-free atomic is all a signal handler may touch.
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int signal) {
  gStopSignal = signal;
  // A second signal of the same kind ends the program at once.
  std::signal(signal, SIG_DFL);
}

} // namespace

void CatchStopSignals() {
  gStopSignal = 0;
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
}

void ReleaseStopSignals() {
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
}

int StopSignal() { return gStopSignal; }

} // namespace tovi::cli
