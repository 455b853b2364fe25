#include "cli/run_command.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "engine/console_host.h"
#include "engine/engine_environment.h"
#include "platform/console_io.h"
#include "platform/stop_signals.h"

namespace velmar {

namespace {

namespace fs = std::filesystem;

// Signals within this time of the first one are taken as part of the same stop.
constexpr std::chrono::seconds kSignalMergeWindow{3};

int UsageError(const std::string& message) {
  std::fprintf(stderr, "velmar run: %s\n", message.c_str());
  std::fputs("usage: velmar run [--home DIR] [--codepage 65001|936] [--param TEXT] SCRIPT\n",
             stderr);
  return 2;
}

// A path as given; a bare name that is no file is looked up in Script/ of
// the home folder, with or without its `.vlm`.
fs::path ResolveScript(const std::string& given, const fs::path& home) {
  std::error_code ec;
  const fs::path path(given);
  if (fs::is_regular_file(path, ec) || given.find('/') != std::string::npos) return path;
  for (const fs::path& candidate : {home / "Script" / given, home / "Script" / (given + ".vlm")}) {
    if (fs::is_regular_file(candidate, ec)) return candidate;
  }
  return path;
}

bool IsReadableFile(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  return static_cast<bool>(in);
}

}  // namespace

int RunScriptCommand(const std::vector<std::string>& args) {
  std::string homeOption;
  std::optional<int> codePage;
  std::string param;
  std::optional<std::string> script;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](const std::string& name, std::string& out) {
      if (arg == name) {
        if (i + 1 >= args.size()) return false;
        out = args[++i];
        return true;
      }
      out = arg.substr(name.size() + 1);
      return true;
    };
    auto is = [&](const std::string& name) { return arg == name || arg.rfind(name + "=", 0) == 0; };
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && is("--home")) {
      if (!value("--home", homeOption)) return UsageError("--home needs a folder");
    } else if (!optionsEnded && is("--param")) {
      if (!value("--param", param)) return UsageError("--param needs a text");
    } else if (!optionsEnded && is("--codepage")) {
      std::string text;
      if (!value("--codepage", text)) return UsageError("--codepage needs 65001 or 936");
      if (text == "65001") {
        codePage = CodePage::kUtf8;
      } else if (text == "936") {
        codePage = CodePage::kGbk;
      } else {
        return UsageError("unknown code page: " + text + " (use 65001 or 936)");
      }
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option: " + arg);
    } else if (script) {
      return UsageError("only one script can be run");
    } else {
      script = arg;
    }
  }
  if (!script || script->empty()) return UsageError("no script given");

  const fs::path home = ResolveHomeFolder(homeOption);
  EngineEnvironment env = EngineEnvironment::ForHome(home, KeywordFlavor::kRunner);
  if (codePage) env.codePage = &CodePage::Get(*codePage);
  // Why a request failed goes to standard error, apart from the request
  // lines on standard output.
  env.diagnostic = ConsoleDiagnostics(stderr, "velmar run");
  env.scriptError = ConsoleScriptErrors(stderr, "velmar run");

  const fs::path scriptPath = ResolveScript(*script, home);
  if (!IsReadableFile(scriptPath)) {
    std::fprintf(stderr, "velmar run: cannot read script: %s\n", script->c_str());
    return 2;
  }
  std::error_code ec;
  const std::string source = fs::absolute(scriptPath, ec).lexically_normal().string();

  // Interrupt and terminate are taken by one thread, so every thread the
  // engine creates inherits the blocked mask and a signal never lands in the
  // middle of a statement.
  platform::StopSignals signals;

  ConsoleHost host(env, stdout, platform::kStandardInput);
  ScriptInstance* instance = host.startScript(scriptPath.stem().string(), source, param, scriptPath.string());

  // The signal thread starts only once the worker exists: a stop before that
  // would find nothing alive and be lost, while a signal that arrives
  // earlier stays pending (it is blocked) until the thread takes it.
  const bool started = host.run(*instance);
  std::atomic<int> caught{0};
  std::thread signalThread([&] {
    std::chrono::steady_clock::time_point firstAt;
    for (;;) {
      const int sig = signals.Wait();
      if (sig == 0) return;
      if (caught.load() != 0) {
        // A supervisor such as `timeout` signals the child and its process
        // group, so a second signal often arrives with the first one: it
        // joins the stop under way. Only a signal well after the first one
        // means the stop takes too long.
        if (std::chrono::steady_clock::now() - firstAt > kSignalMergeWindow)
          platform::ExitImmediately(128 + sig);
        continue;
      }
      firstAt = std::chrono::steady_clock::now();
      caught.store(sig);
      host.stop(*instance);
    }
  });

  if (started) instance->worker.join();
  signals.Release(signalThread);
  signalThread.join();
  if (!started) {
    std::fputs("velmar run: cannot create the script's thread\n", stderr);
    return 1;
  }
  if (caught.load() != 0) return 128 + caught.load();
  return instance->errorReported ? 1 : 0;
}

}  // namespace velmar
