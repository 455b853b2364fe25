#include "engine/console_host.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

#include "engine/json_lines.h"
#include "platform/console_io.h"
#include "platform/display.h"
#include "platform/durable_file.h"
#include "platform/wake_event.h"
#include "values/text_file_ops.h"

namespace velmar {

std::string EscapeConsoleText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}

std::function<void(int32_t, std::string_view)> ConsoleDiagnostics(std::FILE* err,
                                                                  std::string program) {
  return [err, program = std::move(program)](int32_t, std::string_view text) {
    const std::string line = program + ": " + EscapeConsoleText(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), err);
    std::fflush(err);
  };
}

std::function<void(int32_t, const ScriptErrorReport&)> ConsoleScriptErrors(std::FILE* err,
                                                                           std::string program) {
  return [err, program = std::move(program)](int32_t, const ScriptErrorReport& report) {
    std::string line = report.file.empty() || report.line == 0
                           ? program
                           : report.file + ":" + std::to_string(report.line);
    line += ": error: " + report.reason;
    if (!report.what.empty()) line += " (" + report.what + ")";
    line = EscapeConsoleText(line) + "\n";
    std::fwrite(line.data(), 1, line.size(), err);
    std::fflush(err);
  };
}

ScreenSize ConsoleHost::screenSize() {
  const platform::DisplaySize size = platform::QueryDisplaySize();
  return {size.width, size.height};
}

ConsoleHost::ConsoleHost(const EngineEnvironment& environment, std::FILE* out, int inputFd)
    : ScriptHostBase(environment), out_(out), inputFd_(inputFd) {}

// Workers call into this object until they end, so they are stopped here,
// before the members they use go away.
ConsoleHost::~ConsoleHost() {
  shutdown();
}

std::string ConsoleHost::NotePath(int32_t id) const {
  return (environment().home / "Temp" / ("note_" + std::to_string(id) + ".txt")).string();
}

namespace {

// How often a blocked output write looks at the stop request.
constexpr int kWriteSliceMs = 20;
// How long the writes of a stop wait for the reader, all together: enough
// for a reader that is only slow, short enough that a pipe nobody reads
// does not hold the stop up (the lines of the stop, "state: stop" and
// "state: exit", share this one wait instead of waiting in turn).
constexpr auto kStopGrace = std::chrono::milliseconds(50);

// Writes all of `line` to `fd` unless the script is stopped while nobody
// takes the output; then the rest of the line is dropped. Each write follows
// a report of room and is small enough for a pipe to take whole, so it
// cannot block. `stalledSince` is when the output last stopped moving while
// a stop waited for it; kept by the host across lines, it is cleared as
// soon as the reader takes bytes again.
// Returns 0, or the error number of a write that failed.
int WriteGivingWayToStop(platform::Descriptor fd, std::string_view line, const StopSignal& stop,
                         std::optional<std::chrono::steady_clock::time_point>& stalledSince) {
  using Clock = std::chrono::steady_clock;
  while (!line.empty()) {
    int limitMs = kWriteSliceMs;
    std::optional<Clock::time_point> waitStart;
    if (stop.requested()) {
      const auto now = Clock::now();
      waitStart = stalledSince.value_or(now);
      const auto left = kStopGrace - (now - *waitStart);
      if (left <= Clock::duration::zero()) {
        stalledSince = waitStart;
        return 0;
      }
      limitMs = std::min<int>(
          limitMs,
          static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
    }
    const platform::WriteReadiness room = platform::WaitForRoom(fd, limitMs);
    if (room == platform::WriteReadiness::kFailed) return errno != 0 ? errno : EIO;
    if (room == platform::WriteReadiness::kNotYet) {
      if (waitStart) stalledSince = waitStart;
      continue;
    }
    errno = 0;
    const long n = platform::WriteSome(fd, line);
    // A full disk or a closed pipe: nothing more can be written.
    if (n < 0) return errno != 0 ? errno : EIO;
    if (n == 0) continue;
    line.remove_prefix(static_cast<std::size_t>(n));
    stalledSince.reset();
  }
  return 0;
}

}  // namespace

std::string ConsoleHost::outputError() const {
  std::lock_guard<std::mutex> lock(outMutex_);
  return outputError_;
}

void ConsoleHost::Print(const ScriptContext* ctx, std::string_view prefix, std::string_view text,
                        bool escape) {
  const CodePage& scriptCodePage = *environment().codePage;
  std::string line;
  if (jsonLines_) {
    const auto* instance = dynamic_cast<const ScriptInstance*>(ctx);
    JsonLineFields fields;
    if (ctx) fields.script = ctx->id;
    if (instance) fields.name = instance->displayName;
    fields.kind = prefix;
    fields.text = text;
    line = FormatJsonLine(fields, scriptCodePage);
  } else {
    const std::string shown = escape ? EscapeConsoleText(text) : std::string(text);
    line = prefix;
    line += ": ";
    if (outputCodePage_ && outputCodePage_ != &scriptCodePage) {
      line += outputCodePage_->FromUtf8(scriptCodePage.ToUtf8(shown));
    } else {
      line += shown;
    }
    line += '\n';
  }
  WriteLine(ctx, line);
}

void ConsoleHost::WriteLine(const ScriptContext* ctx, const std::string& line) {
  int error = 0;
  bool first = false;
  {
    std::lock_guard<std::mutex> lock(outMutex_);
    const platform::Descriptor fd = ctx ? platform::DescriptorOf(out_) : -1;
    if (fd < 0) {  // a stream without a file descriptor never blocks
      std::fwrite(line.data(), 1, line.size(), out_);
      if (std::fflush(out_) != 0) error = errno != 0 ? errno : EIO;
    } else if (!outputError_.empty()) {
      return;                             // the output is gone; the stop is under way
    } else if (std::fflush(out_) != 0) {  // whatever the stream still holds goes first
      error = errno != 0 ? errno : EIO;
    } else {
      error = WriteGivingWayToStop(fd, line, ctx->stop, outputStalledSince_);
    }
    if (error == 0) return;
    first = outputError_.empty();
    if (first) outputError_ = std::strerror(error);
  }
  // Outside the output lock: the stop takes the host's list lock.
  if (auto* instance = dynamic_cast<const ScriptInstance*>(ctx)) {
    stop(*const_cast<ScriptInstance*>(instance));
  }
  if (first && onOutputLost_) onOutputLost_();
}

void ConsoleHost::PrintDiagnostic(int32_t scriptId, std::string_view text) {
  const ScriptInstance* instance = instanceWithId(scriptId);
  JsonLineFields fields;
  fields.script = scriptId;
  if (instance) fields.name = instance->displayName;
  fields.kind = "diagnostic";
  fields.text = text;
  WriteLine(instance, FormatJsonLine(fields, *environment().codePage));
}

void ConsoleHost::PrintScriptError(int32_t scriptId, const ScriptErrorReport& report) {
  const ScriptInstance* instance = instanceWithId(scriptId);
  // The reason is English and the statement in the script's code page; the
  // text is made of both, so the statement is brought to UTF-8 first.
  bool ignored = false;
  std::string text = report.reason;
  if (!report.what.empty()) {
    text += " (" + ToUtf8Replacing(report.what, *environment().codePage, ignored) + ")";
  }
  JsonLineFields fields;
  fields.script = scriptId;
  if (instance) fields.name = instance->displayName;
  fields.kind = "error";
  fields.text = text;
  fields.textIsUtf8 = true;
  fields.file = report.file;
  fields.line = report.line;
  WriteLine(instance, FormatJsonLine(fields, *environment().codePage));
}

void ConsoleHost::PrintProgramLine(std::string_view kind, std::string_view utf8Text) {
  std::string line;
  if (jsonLines_) {
    JsonLineFields fields;
    fields.kind = kind;
    fields.text = utf8Text;
    fields.textIsUtf8 = true;
    line = FormatJsonLine(fields, *environment().codePage);
  } else {
    line = std::string(kind) + ": " +
           EscapeConsoleText(environment().codePage->FromUtf8(utf8Text)) + "\n";
  }
  WriteLine(nullptr, line);
}

void ConsoleHost::NoteMissingWindows(const ScriptContext& ctx, int32_t code) {
  if (windowsNoted_.exchange(true) || !environment().diagnostic) return;
  const bool tray = code == REQ_SHOWTRAY || code == REQ_HIDETRAY;
  environment().diagnostic(
      ctx.id, std::string(tray ? "the tray icon (showtray)" : "the script's windows (openwindow)") +
                  " cannot be shown: a console has no windows, so these statements do nothing "
                  "and no window event arrives; run the script in tamarind, or in vlmpack "
                  "without --headless");
}

void ConsoleHost::handleRequest(const HostRequest& request, const std::string& text) {
  if (handleCommonRequest(request, text)) return;
  ScriptContext* ctx = request.instance;
  switch (request.code) {
    case REQ_SHOW:
      Print(ctx, "show", text);
      break;
    case REQ_RIGHT:
      Print(ctx, "right", text);
      break;
    case REQ_LEFT:
      Print(ctx, "left", text);
      break;
    case REQ_STATE:
      Print(ctx, "state", text);
      break;
    case REQ_ALERT:
      Print(ctx, "alert", text);
      break;
    case REQ_NOTE: {
      if (!ctx) break;
      const std::string path = NotePath(ctx->id);
      std::string reason;
      if (!platform::OwnFolder(environment().home / "Temp", reason)) {
        if (environment().diagnostic) {
          environment().diagnostic(ctx->id, "cannot write the note file " + path + ": " +
                                                (environment().home / "Temp").string() + ": " + reason);
        }
        break;
      }
      // A note is the programs' own file: a link planted at its name is
      // replaced, never written through. The line names a file that holds
      // the note; one that could not be written is said on the diagnostics
      // instead.
      errno = 0;
      if (!WriteOwnTextFile(path, text, "w")) {
        if (environment().diagnostic) {
          environment().diagnostic(ctx->id, "cannot write the note file " + path + ": " +
                                                std::strerror(errno != 0 ? errno : EIO));
        }
        break;
      }
      Print(ctx, "note", path, false);
      break;
    }
    case REQ_PROMPT: {
      Print(ctx, "prompt", text);
      if (!ctx) break;
      std::string answer = ReadAnswer(*ctx);
      if (!ctx->stop.requested()) ctx->variables.SetReceived("input", std::move(answer));
      break;
    }
    case REQ_JS:
      if (ctx) EvaluateJs(*ctx, text);
      break;
    case REQ_JSWINDOW:  // there are no windows in a terminal
      if (ctx) ctx->variables["status"] = "0";
      if (ctx) NoteMissingWindows(*ctx, request.code);
      break;
    case REQ_OPENWINDOW:
    case REQ_SETWINDOW:
    case REQ_SHOWWINDOW:
    case REQ_SHOWTRAY:
      if (ctx) NoteMissingWindows(*ctx, request.code);
      break;
    default:
      break;  // window requests and every other code: nothing to do here
  }
}

void ConsoleHost::EvaluateJs(ScriptContext& ctx, const std::string& text) {
  std::string result;
  if (environment().EvaluateJs(text, result, nullptr, &ctx.stop, ctx.observer)) {
    ctx.variables.SetReceived("return", std::move(result));
    ctx.variables["status"] = "1";
  } else {
    ctx.variables["status"] = "0";
  }
}

std::string ConsoleHost::ReadAnswer(ScriptContext& ctx) {
  platform::WakeEvent cancel;
  if (!cancel.valid()) return {};
  ctx.stop.SetAbortHook([this, &cancel] {
    { std::lock_guard<std::mutex> lock(inputMutex_); }
    inputCv_.notify_all();
    cancel.Set();
  });
  std::string answer;
  bool ownsInput = false;
  {
    std::unique_lock<std::mutex> lock(inputMutex_);
    inputCv_.wait(lock, [&] { return !inputBusy_ || ctx.stop.requested(); });
    if (!ctx.stop.requested()) inputBusy_ = ownsInput = true;
  }
  while (ownsInput && !ctx.stop.requested()) {
    if (cancel.WaitForInput(inputFd_) != platform::WakeEvent::Wait::kInput) break;
    char c = 0;
    if (platform::ReadByte(inputFd_, c) <= 0 || c == '\n')
      break;  // end of input answers what was typed
    answer += c;
  }
  if (!answer.empty() && answer.back() == '\r') answer.pop_back();
  if (ownsInput) {
    std::lock_guard<std::mutex> lock(inputMutex_);
    inputBusy_ = false;
  }
  inputCv_.notify_all();
  ctx.stop.ClearAbortHook();
  return answer;
}

}  // namespace velmar
