// The velmar command: runs scripts in a terminal and tests regular expressions.

#include <cstdio>
#include <string>
#include <vector>

#include "cli/check_command.h"
#include "cli/debug_command.h"
#include "cli/help_command.h"
#include "cli/lsp_command.h"
#include "cli/pack_command.h"
#include "cli/regex_command.h"
#include "cli/run_command.h"
#include "cli/trace_command.h"

namespace {

constexpr const char* kUsage =
    "usage: velmar run [--home DIR [--create-home]] [--codepage 65001|936]\n"
    "                  [--output-codepage 65001|936] [--param TEXT]\n"
    "                  [--trace FILE [--trace-secrets]] SCRIPT|-\n"
    "       velmar check [--format text|json] [--werror] [--home DIR] [--codepage N] FILE...\n"
    "       velmar regex [--codepage 65001|936] [--] PATTERN [FILE]\n"
    "       velmar regex [--codepage 65001|936] --dump [--] PATTERN\n"
    "       velmar pack SCRIPT_FOLDER OUTPUT [--archive] [--force] [--appname NAME]\n"
    "                   [--homepage URL] [--hotkey KEY] [--boot FILE]\n"
    "                   [--deb [--deb-name NAME] [--deb-version V] [--maintainer 'N <A>']]\n"
    "       velmar trace har|curl|summary|view FILE ...\n"
    "       velmar help [TOPIC]\n"
    "       velmar lsp [--home DIR] [--codepage 65001|936]\n"
    "       velmar debug\n"
    "       velmar --help | --version\n"
    "\n"
    "run     runs a .vlm script; every request the script makes is printed as one\n"
    "        line (show:, right:, left:, state:, alert:, prompt:, note:); a prompt\n"
    "        reads its answer from standard input.\n"
    "        SCRIPT is a path, a name looked up in Script/ of the home folder or\n"
    "        among the installed examples, or - for standard input.\n"
    "        --home DIR      the home folder (else VELMAR_HOME, the program's folder\n"
    "                        when it holds Script/ or Config.ini, or\n"
    "                        $XDG_DATA_HOME/velmar)\n"
    "        --create-home   make the --home folder when it does not exist\n"
    "        --codepage N    code page of the script texts for this run\n"
    "        --output-codepage N  code page of the printed lines (a terminal\n"
    "                        with a UTF-8 locale gets UTF-8 by itself)\n"
    "        --param TEXT    the script's variable `param`\n"
    "        --trace FILE    record the run in FILE (velmar help trace);\n"
    "                        --trace-secrets keeps cookies and passwords in it\n"
    "        exit status: 0 done, 1 ended by a script error, 2 usage error or\n"
    "        unreadable script, 130/143 stopped by SIGINT/SIGTERM.\n"
    "check   reports what is wrong in scripts before they run, as\n"
    "        FILE:LINE:COLUMN: error|warning: MESSAGE (or JSON objects); exit status\n"
    "        0 no errors, 1 errors, 2 a file cannot be read.\n"
    "regex   tests a regular expression against a file or standard input; with\n"
    "        --dump prints the program it compiles to.\n"
    "trace   shows a recorded run: har (HAR 1.2), curl N, summary, view (HTML).\n"
    "help    the manual: a statement, a built-in function, a Config.ini key or a\n"
    "        topic (velmar help get, velmar help split, velmar help regex); without\n"
    "        TOPIC the list of topics.\n"
    "pack    makes a packed application: a folder with the vlmpack program, the\n"
    "        scripts under Script/, Velmar.boot, Config.ini, a start launcher and a\n"
    "        .desktop file; --deb also makes a Debian package of it.\n"
    "lsp     the language server an editor starts (on standard input and output).\n"
    "debug   the step debugger an editor starts (Debug Adapter Protocol on standard\n"
    "        input and output).\n"
    "\n"
    "velmar COMMAND --help and velmar help COMMAND show a command's page.\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string& command = args[0];
  if (command == "--help" || command == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "--version") {
    return velmar::PrintVersion("velmar");
  }
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "run") return velmar::RunScriptCommand(rest);
  if (command == "check") return velmar::RunCheckCommand(rest);
  if (command == "regex") return velmar::RunRegexCommand(rest);
  if (command == "pack") return velmar::RunPackCommand(rest);
  if (command == "help") return velmar::RunHelpCommand(rest);
  if (command == "lsp") return velmar::RunLspCommand(rest);
  if (command == "debug") return velmar::RunDebugCommand(rest);
  if (command == "trace") return velmar::RunTraceCommand(rest);
  std::fprintf(stderr, "velmar: unknown command: %s\n", command.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}
