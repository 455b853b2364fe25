#pragma once
// The host of the command line: answers every request on the calling worker
// thread, writes one line per answered request to its output and reads
// prompt answers from its input.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "engine/script_instance.h"

namespace velmar {

// A request text as the console shows it: `\` as `\\`, CR as `\r`, LF as
// `\n`, every other byte as it is.
std::string EscapeConsoleText(std::string_view text);

// The diagnostics callback of a console program's environment: each
// diagnostic becomes one line "<program>: <text>" (escaped like request
// texts) on `err`, apart from the request lines of the output.
std::function<void(int32_t scriptId, std::string_view text)> ConsoleDiagnostics(
    std::FILE* err, std::string program);

// The script-error callback of a console program's environment: each error
// becomes one line "FILE:LINE: error: REASON (WHAT)" on `err`, the form
// compilers use, so that terminals and editors lead to the line; without a
// position "<program>: error: REASON (WHAT)".
std::function<void(int32_t scriptId, const ScriptErrorReport& report)> ConsoleScriptErrors(
    std::FILE* err, std::string program);

class ConsoleHost : public ScriptHostBase {
 public:
  // `out` receives the request lines; prompt answers are read from the file
  // descriptor `inputFd`.
  ConsoleHost(const EngineEnvironment& environment, std::FILE* out, int inputFd = 0);
  ~ConsoleHost() override;

  // Runs on the requesting worker's thread.
  void handleRequest(const HostRequest& request, const std::string& text) override;
  // Runs on the asking worker's thread: the display's size when one is
  // reachable; zeros otherwise.
  ScreenSize screenSize() override;

  // Path of the note file of an instance: Temp/note_<id>.txt of the home.
  std::string NotePath(int32_t id) const;

  // Request texts are printed in this code page instead of the script's
  // (a GBK script shown on a UTF-8 terminal); null keeps the script's bytes.
  void setOutputCodePage(const CodePage* codePage) { outputCodePage_ = codePage; }

  // Why the output could not be written (a full disk, a closed pipe); empty
  // while every line went out. The script that met the failure is stopped:
  // a run whose record is lost must not go on as if it were kept.
  std::string outputError() const;
  // Called once, on the thread whose write failed, when the output is
  // lost: a host running several scripts stops them all, since none of
  // their records can be kept any more. Set before the first script starts.
  void setOnOutputLost(std::function<void()> onLost) { onOutputLost_ = std::move(onLost); }

  // Every line as one JSON object (`--jsonl`): requests, diagnostics and
  // script errors alike, in UTF-8; set before the first script starts.
  void setJsonLines(bool on) { jsonLines_ = on; }
  bool jsonLines() const { return jsonLines_; }
  // The lines of the environment's callbacks in the JSON record, on the
  // output beside the requests. On the script's worker thread.
  void PrintDiagnostic(int32_t scriptId, std::string_view text);
  void PrintScriptError(int32_t scriptId, const ScriptErrorReport& report);
  // A line of the program itself (the runner's message box, why a script
  // could not start), UTF-8. Plain output shows it as "KIND: TEXT".
  void PrintProgramLine(std::string_view kind, std::string_view utf8Text);

 private:
  // Writes one request line; for a script's request the write gives way
  // when the script is stopped while nobody reads the output. `text` is in
  // the script's code page; plain lines escape it when `escape` is set.
  void Print(const ScriptContext* ctx, std::string_view prefix, std::string_view text,
             bool escape = true);
  void WriteLine(const ScriptContext* ctx, const std::string& line);
  std::string ReadAnswer(ScriptContext& ctx);
  void EvaluateJs(ScriptContext& ctx, const std::string& text);

  // Says once per host that the console has no windows or tray.
  void NoteMissingWindows(const ScriptContext& ctx, int32_t code);

  std::FILE* out_;
  int inputFd_;
  const CodePage* outputCodePage_ = nullptr;
  bool jsonLines_ = false;
  std::function<void()> onOutputLost_;
  mutable std::mutex outMutex_;
  std::string outputError_;  // guarded by outMutex_
  std::atomic<bool> windowsNoted_{false};
  // Since when a stopped script's output has waited for a reader that takes
  // nothing (see Print); guarded by outMutex_.
  std::optional<std::chrono::steady_clock::time_point> outputStalledSince_;
  // One prompt reads the input at a time; a stop cuts a waiting one short.
  std::mutex inputMutex_;
  std::condition_variable inputCv_;
  bool inputBusy_ = false;
};

}  // namespace velmar
