#pragma once
// The language server behind `velmar lsp`: JSON-RPC messages of an editor
// in, answers and diagnostics out. It keeps the editor's open scripts as
// the editor holds them (unsaved text included), checks them a moment after
// the typing stops, and answers completion, hover, definition, references
// and outline requests from each file's outline and its includes'.
//
// Texts travel as UTF-8 and positions in UTF-16 code units, as the protocol
// has them; inside, a script is held in its own code page, so a script in
// code page 936 is checked exactly as a run reads it.

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine_environment.h"
#include "platform/console_io.h"
#include "tooling/message_frames.h"
#include "tooling/script_outline.h"

namespace velmar {

struct LanguageServerOptions {
  // The home folder of every script; empty: the folder above a script's
  // `Script/` folder, else the script's own folder.
  std::string home;
  std::optional<int> codePage;  // overrides the home's Config.ini
  // The manual's Markdown section for an anchor ("stmt-get", "fn-split"),
  // empty when there is none; the command gives the embedded manual.
  std::function<std::string(std::string_view anchor)> manual;
  // How long after the last change a script is checked.
  std::chrono::milliseconds debounce{50};
};

class LanguageServer {
 public:
  using Clock = std::chrono::steady_clock;
  using Sender = std::function<void(const std::string& message)>;

  LanguageServer(LanguageServerOptions options, Sender send);
  ~LanguageServer();

  // One frame from the client.
  void Receive(const MessageFrame& frame, Clock::time_point now = Clock::now());
  // Checks the scripts whose wait is over; returns when the next is due
  // (Clock::time_point::max() when none waits).
  Clock::time_point Tick(Clock::time_point now = Clock::now());

  bool exited() const;
  // 0 after `shutdown` then `exit`; 1 when the client left without them.
  int exitCode() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Serves on the descriptors until the input closes or the client sends
// `exit`; returns the exit status.
int RunLanguageServer(platform::Descriptor input, platform::Descriptor output,
                      LanguageServerOptions options);

}  // namespace velmar
