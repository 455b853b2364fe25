#include "cli/run_command.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>
#include <thread>

#include <langinfo.h>
#include <unistd.h>
#include <clocale>
#include <cstring>
#include <iterator>

#include "cli/help_command.h"
#include "engine/console_host.h"
#include "engine/engine_environment.h"
#include "engine/run_deadline.h"
#include "engine/run_outcome.h"
#include "platform/console_io.h"
#include "platform/process_info.h"
#include "platform/socket.h"
#include "platform/stop_signals.h"
#include "tooling/trace_writer.h"
#include "values/code_page.h"

namespace velmar {

namespace {

namespace fs = std::filesystem;

// Signals within this time of the first one are taken as part of the same stop.
constexpr std::chrono::seconds kSignalMergeWindow{3};

int UsageError(const std::string& message) {
  std::fprintf(stderr, "velmar run: %s\n", message.c_str());
  std::fputs(
      "usage: velmar run [--home DIR [--create-home]] [--codepage 65001|936]\n"
      "                  [--output-codepage 65001|936] [--param TEXT]\n"
      "                  [--jsonl] [--time-limit SECONDS]\n"
      "                  [--trace FILE [--trace-secrets]] SCRIPT|-\n",
      stderr);
  return ExitStatusOf(RunOutcome::kUsage);
}

std::optional<int> ParseCodePage(const std::string& text) {
  if (text == "65001") return CodePage::kUtf8;
  if (text == "936") return CodePage::kGbk;
  return std::nullopt;
}

// A terminal shows UTF-8 when the user's locale says so; a GBK script's
// texts are converted for it. Files and pipes get the script's own bytes.
const CodePage* TerminalCodePage(const CodePage& script) {
  if (!script.IsGbk() || isatty(STDOUT_FILENO) != 1) return nullptr;
  if (!std::setlocale(LC_CTYPE, "")) return nullptr;
  const char* codeset = nl_langinfo(CODESET);
  const bool utf8 =
      codeset && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
  std::setlocale(LC_CTYPE, "C");
  return utf8 ? &CodePage::Get(CodePage::kUtf8) : nullptr;
}

// `velmar run -`: the script comes from standard input. It is kept for the
// run in a file of its own under Temp/ (the engine reads scripts from files),
// created exclusively and removed when the run ends.
class StandardInputScript {
 public:
  ~StandardInputScript() {
    std::error_code ec;
    if (!path_.empty()) fs::remove(path_, ec);
  }
  bool Read(const fs::path& home, std::string& error) {
    std::string text;
    char buffer[65536];
    for (;;) {
      const long n = platform::ReadSome(platform::kStandardInput, buffer, sizeof buffer);
      if (n == 0) break;
      if (n < 0) {
        error = "cannot read the script from standard input";
        return false;
      }
      text.append(buffer, static_cast<std::size_t>(n));
    }
    std::error_code ec;
    fs::create_directories(home / "Temp", ec);
    std::string pattern = (home / "Temp" / "stdin_XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) {
      error = "cannot keep the script from standard input in " + (home / "Temp").string() + ": " +
              std::strerror(errno);
      return false;
    }
    path_ = name.data();
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
      const ssize_t n = write(fd, data, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error = "cannot keep the script from standard input: " + std::string(std::strerror(errno));
        close(fd);
        return false;
      }
      data += n;
      left -= static_cast<std::size_t>(n);
    }
    close(fd);
    return true;
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// A path as given; a bare name that is no file is looked up in Script/ of
// the home folder, then among the examples installed beside the program
// (share/velmar/examples of its prefix), with or without its `.vlm`.
fs::path ResolveScript(const std::string& given, const fs::path& home) {
  std::error_code ec;
  const fs::path path(given);
  if (fs::is_regular_file(path, ec) || given.find('/') != std::string::npos) return path;
  std::vector<fs::path> folders{home / "Script"};
  const fs::path programFolder = platform::ExecutableFolder();
  if (!programFolder.empty()) {
    folders.push_back(programFolder.parent_path() / "share" / "velmar" / "examples" / "Script");
  }
  for (const fs::path& folder : folders) {
    for (const fs::path& candidate : {folder / given, folder / (given + ".vlm")}) {
      if (fs::is_regular_file(candidate, ec)) return candidate;
    }
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
  std::optional<int> outputCodePage;
  bool createHome = false;
  std::string param;
  std::optional<std::string> script;
  bool jsonLines = false;
  std::optional<std::chrono::duration<double>> timeLimit;
  std::string tracePath;
  bool traceSecrets = false;
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
    } else if (!optionsEnded && (arg == "--help" || arg == "-h")) {
      return PrintCommandHelp("run");
    } else if (!optionsEnded && arg == "--version") {
      return PrintVersion("velmar");
    } else if (!optionsEnded && is("--home")) {
      if (!value("--home", homeOption)) return UsageError("--home needs a folder");
    } else if (!optionsEnded && is("--trace")) {
      if (!value("--trace", tracePath) || tracePath.empty()) return UsageError("--trace needs a file");
    } else if (!optionsEnded && arg == "--trace-secrets") {
      traceSecrets = true;
    } else if (!optionsEnded && arg == "--create-home") {
      createHome = true;
    } else if (!optionsEnded && is("--param")) {
      if (!value("--param", param)) return UsageError("--param needs a text");
    } else if (!optionsEnded && (is("--codepage") || is("--output-codepage"))) {
      const bool output = is("--output-codepage");
      const std::string name = output ? "--output-codepage" : "--codepage";
      std::string text;
      if (!value(name, text)) return UsageError(name + " needs 65001 or 936");
      const std::optional<int> parsed = ParseCodePage(text);
      if (!parsed) return UsageError("unknown code page: " + text + " (use 65001 or 936)");
      (output ? outputCodePage : codePage) = parsed;
    } else if (!optionsEnded && arg == "--jsonl") {
      jsonLines = true;
    } else if (!optionsEnded && is("--time-limit")) {
      std::string text;
      if (!value("--time-limit", text)) return UsageError("--time-limit needs a number of seconds");
      timeLimit = ParseTimeLimit(text);
      if (!timeLimit) return UsageError("--time-limit takes seconds above 0, not: " + text);
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option: " + arg);
    } else if (script) {
      return UsageError("only one script can be run");
    } else {
      script = arg;
    }
  }
  if (!script || script->empty()) return UsageError("no script given");

  if (!HomeOptionAccepted("velmar run", homeOption, createHome)) {
    return ExitStatusOf(RunOutcome::kUsage);
  }
  const fs::path home = ResolveHomeFolder(homeOption);
  EngineEnvironment env = EngineEnvironment::ForHome(home, KeywordFlavor::kRunner);
  if (codePage) {
    env.codePage = &CodePage::Get(*codePage);
  } else if (!env.config.GetString("codepage").empty()) {
    // Any other value would silently run the script as UTF-8.
    const long long configured = env.config.GetInt("codepage", CodePage::kUtf8);
    if (configured != CodePage::kUtf8 && configured != CodePage::kGbk) {
      std::fprintf(stderr,
                   "velmar run: %s: codepage=%s is not supported (use 65001 for UTF-8 or 936 "
                   "for GBK)\n",
                   (home / "Config.ini").c_str(), env.config.GetString("codepage").c_str());
      return ExitStatusOf(RunOutcome::kUsage);
    }
  }
  // Why a request failed goes to standard error, apart from the request
  // lines on standard output.
  env.diagnostic = ConsoleDiagnostics(stderr, "velmar run");
  env.scriptError = ConsoleScriptErrors(stderr, "velmar run");

  // A trace that cannot be written is said once; the script runs anyway.
  std::optional<TraceWriter> trace;
  if (!tracePath.empty()) {
    TraceOptions options;
    options.path = tracePath;
    options.keepSecrets = traceSecrets;
    options.complain = [](std::string_view reason) {
      std::fprintf(stderr, "velmar run: %.*s\n", static_cast<int>(reason.size()), reason.data());
    };
    trace.emplace(std::move(options));
    std::string reason;
    if (trace->Open(reason)) {
      env.observer = &*trace;
    } else {
      std::fprintf(stderr, "velmar run: not recording a trace: %s\n", reason.c_str());
    }
  }
  StandardInputScript fromInput;
  fs::path scriptPath;
  if (*script == "-") {
    std::string error;
    if (!fromInput.Read(home, error)) {
      std::fprintf(stderr, "velmar run: %s\n", error.c_str());
      return ExitStatusOf(RunOutcome::kUnreadable);
    }
    scriptPath = fromInput.path();
  } else {
    scriptPath = ResolveScript(*script, home);
  }
  if (!IsReadableFile(scriptPath)) {
    std::fprintf(stderr, "velmar run: cannot read script: %s\n", script->c_str());
    return ExitStatusOf(RunOutcome::kUnreadable);
  }
  std::error_code ec;
  const std::string source = fs::absolute(scriptPath, ec).lexically_normal().string();

  // Interrupt and terminate are taken by one thread, so every thread the
  // engine creates inherits the blocked mask and a signal never lands in the
  // middle of a statement.
  platform::StopSignals signals;

  // A reader that has gone away shows as a failed write, which stops the
  // script and says so, instead of ending the program without a word.
  platform::IgnoreBrokenPipe();
  ConsoleHost host(env, stdout, platform::kStandardInput);
  host.setJsonLines(jsonLines);
  if (jsonLines) {
    // The record on standard output is complete: diagnostics and errors
    // are lines of it too.
    env.diagnostic = [&host](int32_t id, std::string_view text) { host.PrintDiagnostic(id, text); };
    env.scriptError = [&host](int32_t id, const ScriptErrorReport& report) {
      host.PrintScriptError(id, report);
    };
  }
  if (outputCodePage) {
    host.setOutputCodePage(&CodePage::Get(*outputCodePage));
  } else {
    host.setOutputCodePage(TerminalCodePage(*env.codePage));
  }
  ScriptInstance* instance = host.startScript(
      *script == "-" ? std::string("stdin") : scriptPath.stem().string(), source, param,
      *script == "-" ? std::string("<stdin>") : scriptPath.string());

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

  RunDeadline deadline;
  if (started && timeLimit) {
    try {
      deadline.Start(*timeLimit, [&] { host.stop(*instance); });
    } catch (const std::system_error& e) {
      std::fprintf(stderr, "velmar run: cannot keep the time limit: %s\n", e.what());
      host.stop(*instance);
    }
  }
  if (started) instance->worker.join();
  deadline.Cancel();
  signals.Release(signalThread);
  signalThread.join();
  if (!started) {
    std::fputs("velmar run: cannot create the script's thread\n", stderr);
    return ExitStatusOf(RunOutcome::kScriptError);
  }
  RunOutcome outcome = RunOutcome::kEnded;
  if (deadline.expired()) outcome = RunOutcome::kTimeLimit;
  // A run whose record could not be written did not do what was asked.
  const std::string outputError = host.outputError();
  if (!outputError.empty() || std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr,
                 "velmar run: cannot write the standard output: %s; the script was stopped\n",
                 outputError.empty() ? std::strerror(errno) : outputError.c_str());
    outcome = WorseOutcome(outcome, RunOutcome::kScriptError);
  }
  if (instance->errorReported) outcome = WorseOutcome(outcome, RunOutcome::kScriptError);
  if (caught.load() != 0) outcome = WorseOutcome(outcome, OutcomeOfSignal(caught.load()));
  return ExitStatusOf(outcome);
}

}  // namespace velmar
