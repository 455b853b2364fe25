#include "cli/trace_command.h"

#include <cstdio>
#include <string_view>

#include "cli/help_command.h"
#include "platform/durable_file.h"
#include "tooling/trace_export.h"
#include "tooling/trace_reader.h"
#include "tooling/trace_view.h"

namespace velmar {
namespace {

int Usage(const std::string& message) {
  if (!message.empty()) std::fprintf(stderr, "velmar trace: %s\n", message.c_str());
  std::fputs(
      "usage: velmar trace har FILE [-o OUT]\n"
      "       velmar trace curl FILE N\n"
      "       velmar trace summary FILE\n"
      "       velmar trace view FILE [-o OUT.html]\n",
      stderr);
  return 2;
}

// Writes to OUT (mode 600: a trace's contents stay its owner's) or to
// standard output.
bool Emit(const std::string& out, const std::string& text) {
  if (out.empty()) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
           std::fflush(stdout) == 0;
  }
  platform::FileWriteOptions options;
  options.privateFile = true;
  options.followLink = true;
  std::string reason;
  if (!platform::ReplaceFile(out, text, options, reason)) {
    std::fprintf(stderr, "velmar trace: cannot write %s: %s\n", out.c_str(), reason.c_str());
    return false;
  }
  return true;
}

}  // namespace

int RunTraceCommandUnguarded(const std::vector<std::string>& args);

int RunTraceCommand(const std::vector<std::string>& args) {
  // The reader checks every field the commands use; should a trace still
  // hold something they cannot take, the command says so instead of ending
  // the program.
  try {
    return RunTraceCommandUnguarded(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmar trace: the trace holds what cannot be shown: %s\n", e.what());
    return 1;
  }
}

int RunTraceCommandUnguarded(const std::vector<std::string>& args) {
  if (args.empty()) return Usage("no subcommand given");
  if (args[0] == "--help" || args[0] == "-h") return PrintCommandHelp("trace");
  const std::string& sub = args[0];
  if (sub != "har" && sub != "curl" && sub != "summary" && sub != "view") {
    return Usage("unknown subcommand: " + sub);
  }
  std::string file;
  std::string out;
  std::string number;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-o" && (sub == "har" || sub == "view")) {
      if (i + 1 >= args.size()) return Usage("-o needs a file");
      out = args[++i];
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option: " + arg);
    } else if (file.empty()) {
      file = arg;
    } else if (sub == "curl" && number.empty()) {
      number = arg;
    } else {
      return Usage("too many arguments");
    }
  }
  if (file.empty()) return Usage("no trace file given");
  std::size_t n = 0;
  if (sub == "curl") {
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos ||
        number.size() > 12) {
      return Usage("curl needs the number of a request (from 1)");
    }
    n = std::stoull(number);
  }

  TraceFile trace;
  std::string error;
  if (!ReadTraceFile(file, trace, error)) {
    std::fprintf(stderr, "velmar trace: %s\n", error.c_str());
    return 1;
  }
  // Damage is told, and whatever could be read is still shown.
  for (const std::string& problem : trace.problems) {
    std::fprintf(stderr, "velmar trace: %s\n", problem.c_str());
  }
  bool ok = true;
  if (sub == "har") {
    ok = Emit(out, TraceToHar(trace).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) +
                       "\n");
  } else if (sub == "curl") {
    std::string text;
    if (!TraceToCurl(trace, n, text, error)) {
      std::fprintf(stderr, "velmar trace: %s\n", error.c_str());
      return 1;
    }
    ok = Emit({}, text);
  } else if (sub == "summary") {
    ok = Emit({}, TraceSummary(trace));
  } else {
    ok = Emit(out, TraceToHtml(trace));
  }
  if (!ok) return 1;
  return trace.problems.empty() ? 0 : 1;
}

}  // namespace velmar
