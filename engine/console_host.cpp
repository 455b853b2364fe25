#include "engine/console_host.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include "platform/console_io.h"
#include "platform/display.h"
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
constexpr int kWriteSliceMs = 50;
// How long a write waits for the reader once a stop is requested: enough
// for a reader that is only slow, short enough that a pipe nobody reads
// does not hold the stop up.
constexpr auto kStopGrace = std::chrono::milliseconds(300);

// Writes all of `line` to `fd` unless the script is stopped while nobody
// takes the output; then the rest of the line is dropped. Each write follows
// a report of room and is small enough for a pipe to take whole, so it
// cannot block.
void WriteGivingWayToStop(platform::Descriptor fd, std::string_view line, const StopSignal& stop) {
  std::optional<std::chrono::steady_clock::time_point> blockedSince;
  while (!line.empty()) {
    const platform::WriteReadiness room = platform::WaitForRoom(fd, kWriteSliceMs);
    if (room == platform::WriteReadiness::kFailed) return;
    if (room == platform::WriteReadiness::kNotYet) {
      if (!stop.requested()) continue;
      const auto now = std::chrono::steady_clock::now();
      if (!blockedSince) blockedSince = now;
      if (now - *blockedSince >= kStopGrace) return;
      continue;
    }
    const long n = platform::WriteSome(fd, line);
    if (n < 0) return;  // a closed or broken output: nothing more can be written
    if (n == 0) continue;
    line.remove_prefix(static_cast<std::size_t>(n));
    blockedSince.reset();
  }
}

}  // namespace

void ConsoleHost::Print(const ScriptContext* ctx, std::string_view prefix, std::string_view text) {
  std::string line(prefix);
  line += ": ";
  line += text;
  line += '\n';
  std::lock_guard<std::mutex> lock(outMutex_);
  const platform::Descriptor fd = ctx ? platform::DescriptorOf(out_) : -1;
  if (fd < 0) {  // a stream without a file descriptor never blocks
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
    return;
  }
  std::fflush(out_);  // whatever the stream still holds goes first
  WriteGivingWayToStop(fd, line, ctx->stop);
}

void ConsoleHost::handleRequest(const HostRequest& request, const std::string& text) {
  if (handleCommonRequest(request, text)) return;
  ScriptContext* ctx = request.instance;
  switch (request.code) {
    case REQ_SHOW:
      Print(ctx, "show", EscapeConsoleText(text));
      break;
    case REQ_RIGHT:
      Print(ctx, "right", EscapeConsoleText(text));
      break;
    case REQ_LEFT:
      Print(ctx, "left", EscapeConsoleText(text));
      break;
    case REQ_STATE:
      Print(ctx, "state", EscapeConsoleText(text));
      break;
    case REQ_ALERT:
      Print(ctx, "alert", EscapeConsoleText(text));
      break;
    case REQ_NOTE: {
      if (!ctx) break;
      const std::string path = NotePath(ctx->id);
      std::error_code ec;
      std::filesystem::create_directories(environment().home / "Temp", ec);
      WriteTextFile(path, text, "w");  // an unwritable note is not reported
      Print(ctx, "note", path);
      break;
    }
    case REQ_PROMPT: {
      Print(ctx, "prompt", EscapeConsoleText(text));
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
      break;
    default:
      break;  // window requests and every other code: nothing to do here
  }
}

void ConsoleHost::EvaluateJs(ScriptContext& ctx, const std::string& text) {
  std::string result;
  if (environment().EvaluateJs(text, result, nullptr, &ctx.stop)) {
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
