#include "platform/stop_signals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace velmar::platform {
namespace {

// SIGUSR1 only wakes the waiting thread for its end.
sigset_t StopSet() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  return signals;
}

}  // namespace

StopSignals::StopSignals() {
  const sigset_t signals = StopSet();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

int StopSignals::Wait() {
  const sigset_t signals = StopSet();
  for (;;) {
    int sig = 0;
    if (sigwait(&signals, &sig) != 0) continue;
    return sig == SIGUSR1 ? 0 : sig;
  }
}

void StopSignals::Release(std::thread& waiter) {
  pthread_kill(waiter.native_handle(), SIGUSR1);
}

void ExitImmediately(int status) {
  _exit(status);
}

}  // namespace velmar::platform
