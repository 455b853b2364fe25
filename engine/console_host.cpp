#include "engine/console_host.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include "platform/display.h"
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
// takes the output; then the rest of the line is dropped. Each write is at
// most PIPE_BUF bytes after poll reported room, so it cannot block on a pipe.
void WriteGivingWayToStop(int fd, std::string_view line, const StopSignal& stop) {
  std::optional<std::chrono::steady_clock::time_point> blockedSince;
  while (!line.empty()) {
    pollfd pfd{fd, POLLOUT, 0};
    const int ready = poll(&pfd, 1, kWriteSliceMs);
    if (ready < 0 && errno != EINTR) return;
    if (ready <= 0) {
      if (!stop.requested()) continue;
      const auto now = std::chrono::steady_clock::now();
      if (!blockedSince) blockedSince = now;
      if (now - *blockedSince >= kStopGrace) return;
      continue;
    }
    const ssize_t n = write(fd, line.data(), std::min<std::size_t>(line.size(), PIPE_BUF));
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return;  // a closed or broken output: nothing more can be written
    }
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
  const int fd = ctx ? fileno(out_) : -1;
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
      if (!ctx->stop.requested()) ctx->variables["input"] = std::move(answer);
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
    ctx.variables["return"] = std::move(result);
    ctx.variables["status"] = "1";
  } else {
    ctx.variables["status"] = "0";
  }
}

std::string ConsoleHost::ReadAnswer(ScriptContext& ctx) {
  const int cancelFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (cancelFd < 0) return {};
  ctx.stop.SetAbortHook([this, cancelFd] {
    { std::lock_guard<std::mutex> lock(inputMutex_); }
    inputCv_.notify_all();
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(cancelFd, &one, sizeof one);
  });
  std::string answer;
  bool ownsInput = false;
  {
    std::unique_lock<std::mutex> lock(inputMutex_);
    inputCv_.wait(lock, [&] { return !inputBusy_ || ctx.stop.requested(); });
    if (!ctx.stop.requested()) inputBusy_ = ownsInput = true;
  }
  while (ownsInput && !ctx.stop.requested()) {
    pollfd fds[2] = {{inputFd_, POLLIN, 0}, {cancelFd, POLLIN, 0}};
    const int ready = poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) break;
    if (fds[0].revents == 0) continue;
    char c = 0;
    const ssize_t n = read(inputFd_, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == '\n') break;  // end of input answers what was typed
    answer += c;
  }
  if (!answer.empty() && answer.back() == '\r') answer.pop_back();
  if (ownsInput) {
    std::lock_guard<std::mutex> lock(inputMutex_);
    inputBusy_ = false;
  }
  inputCv_.notify_all();
  ctx.stop.ClearAbortHook();
  close(cancelFd);
  return answer;
}

}  // namespace velmar
