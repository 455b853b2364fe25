#pragma once
// The cancellable wait for input: a thread waits for bytes on a descriptor
// (the console's standard input) until another thread sets the event, as a
// stop request does for a prompt nobody answers.

#include "platform/console_io.h"

namespace velmar::platform {

class WakeEvent {
 public:
  WakeEvent();
  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  // False when the system gave no event; nothing can wait on it then.
  bool valid() const { return handle_ >= 0; }
  // Ends the current and every later wait; safe from any thread.
  void Set();

  enum class Wait {
    kInput,   // `input` has bytes (or its end) to read
    kWoken,   // the event was set
    kFailed,  // the wait itself failed
  };
  // Blocks until one of the two happens; an interrupted wait is resumed.
  Wait WaitForInput(Descriptor input);

 private:
  int handle_ = -1;
};

}  // namespace velmar::platform
