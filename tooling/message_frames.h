#pragma once
// Messages framed as the editor protocols frame them: header lines
// ("Content-Length: N"), an empty line, then N bytes of JSON. The reader
// keeps at most one message in memory: a body over the size limit is read
// and dropped as it arrives, so a client that sends 100 MB costs a buffer,
// not 100 MB. The writer may be called from several threads (the debugger
// sends events from the script's thread).

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/console_io.h"
#include "platform/wake_event.h"

namespace velmar {

struct MessageFrame {
  enum class Kind {
    kMessage,   // `body` holds one message
    kTooLarge,  // a message over the limit was dropped; `size` is its length
    kBadHeader, // a header block without a usable Content-Length was skipped
    kEnd,       // the input closed (also in the middle of a message) or failed
    kWoken,     // the reader's wake event was set
  };
  Kind kind = Kind::kEnd;
  std::string body;
  std::size_t size = 0;
};

class FrameReader {
 public:
  // Bodies up to `maxBody` bytes are delivered; `wake`, when given, ends a
  // wait for input from another thread.
  FrameReader(platform::Descriptor input, std::size_t maxBody, platform::WakeEvent* wake = nullptr)
      : input_(input), maxBody_(maxBody), wake_(wake) {}

  MessageFrame Next();

 private:
  // Makes at least one more byte available in `buffer_`; false at the end.
  bool Fill(MessageFrame::Kind& why);

  platform::Descriptor input_;
  std::size_t maxBody_;
  platform::WakeEvent* wake_;
  std::string buffer_;
};

class FrameWriter {
 public:
  explicit FrameWriter(platform::Descriptor output) : output_(output) {}
  // Sends one framed message; false once the output is closed or broken
  // (every later call is then false at once).
  bool Send(std::string_view body);

 private:
  platform::Descriptor output_;
  std::mutex lock_;
  bool broken_ = false;
};

// The largest message the protocol servers accept: far above any script an
// editor holds, far below what would strain the machine.
inline constexpr std::size_t kMaxMessageBytes = 16u << 20;

}  // namespace velmar
