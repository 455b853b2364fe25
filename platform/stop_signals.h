#pragma once
// The signals that ask a command-line program to stop (interrupt and
// terminate), taken by one waiting thread instead of a handler, so that a
// stop never lands in the middle of a statement or a match.

#include <thread>

namespace velmar::platform {

class StopSignals {
 public:
  // Blocks the signals in the calling thread; every thread started after
  // this inherits the mask. A signal that arrives from now on stays pending
  // until Wait takes it.
  StopSignals();

  // The next stop signal's number (for the exit status 128 + number), or 0
  // once Release has been called for the waiting thread.
  int Wait();
  // Ends the Wait of `waiter`, the thread that calls Wait.
  void Release(std::thread& waiter);
};

// Ends the process at once with `status`, running no exit handlers (for a
// second stop signal when the first one takes too long).
[[noreturn]] void ExitImmediately(int status);

}  // namespace velmar::platform
