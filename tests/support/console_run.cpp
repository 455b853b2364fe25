#include "support/console_run.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "engine/console_host.h"
#include "engine/engine_environment.h"

namespace velmar::testing {

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Reads from the pipe until the marker has arrived or the other end closed.
void ReadUntil(int fd, const std::string& marker, std::string& collected) {
  while (collected.find(marker) == std::string::npos) {
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    collected.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

ConsoleRun RunInConsole(const std::filesystem::path& home, const std::string& script,
                        int stopAfterMs, int boundMs) {
  ConsoleRun outcome;
  const std::filesystem::path path = home / "Script" / "run.vlm";
  std::filesystem::create_directories(path.parent_path());
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(script.data(), 1, script.size(), f);
    std::fclose(f);
  }
  int fds[2];
  if (pipe(fds) != 0) return outcome;
  std::FILE* out = fdopen(fds[1], "w");
  // The host keeps a pointer to its environment: both are leaked together.
  auto env =
      std::make_unique<EngineEnvironment>(EngineEnvironment::ForHome(home, KeywordFlavor::kRunner));
  auto host = std::make_unique<ConsoleHost>(*env, out, -1);
  ScriptInstance* s = host->startScript("run", path.string(), "");
  if (!s || !host->run(*s)) return outcome;
  Clock::time_point from = Clock::now();
  if (stopAfterMs >= 0) {
    ReadUntil(fds[0], "show: go\n", outcome.output);
    std::this_thread::sleep_for(std::chrono::milliseconds(stopAfterMs));
    from = Clock::now();
    host->stop(*s);
  }
  outcome.ended = s->worker.waitFinished(boundMs);
  outcome.endMs = MsSince(from);
  if (!outcome.ended) {
    (void)host.release();
    (void)env.release();
    return outcome;
  }
  s->worker.join();
  host.reset();
  std::fclose(out);
  ReadUntil(fds[0], "\x01", outcome.output);  // everything up to the closed end
  close(fds[0]);
  return outcome;
}

}  // namespace velmar::testing
