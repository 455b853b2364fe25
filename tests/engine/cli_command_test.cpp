// The velmar command as a new user meets it: --help and --version at every
// level, the manual's pages in the terminal, a script from standard input,
// an output that cannot be written, the home folder and code page checks,
// and what the console says instead of opening windows.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace velmar {
namespace {

using testing::ProcessResult;
using testing::RunProcess;
using testing::RunVelmar;
using testing::TempDir;

std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++count;
  return count;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(CliCommands, EveryLevelAnswersHelpAndVersionOnStandardOutput) {
  const std::vector<std::vector<std::string>> helps = {
      {"--help"},          {"-h"},
      {"run", "--help"},   {"pack", "--help"},
      {"regex", "--help"}, {"help", "--help"},
      {"help", "run"},     {"help", "pack"},
      {"help", "regex"},   {"run", "--home", "/nonexistent", "--help"}};
  for (const auto& args : helps) {
    // Standard input is given: `regex --help` once took --help for the
    // pattern and searched it.
    const ProcessResult r = RunVelmar(args, "--help\n");
    EXPECT_EQ(r.exitCode, 0) << ::testing::PrintToString(args) << r.err;
    EXPECT_TRUE(r.err.empty()) << ::testing::PrintToString(args) << r.err;
    EXPECT_GT(r.out.size(), 100u) << ::testing::PrintToString(args);
    EXPECT_NE(r.out.rfind("count:", 0), 0u) << ::testing::PrintToString(args);
  }
  // A command's --help is its page of the manual.
  const ProcessResult runHelp = RunVelmar({"run", "--help"});
  EXPECT_EQ(runHelp.out, RunVelmar({"help", "run"}).out);
  EXPECT_TRUE(Contains(runHelp.out, "--create-home")) << runHelp.out;
  EXPECT_TRUE(Contains(RunVelmar({"--help"}).out, "velmar pack"));
  // `help regex` shows the command and the dialect's topic.
  const ProcessResult regexHelp = RunVelmar({"help", "regex"});
  EXPECT_TRUE(Contains(regexHelp.out, "velmar regex [--codepage")) << regexHelp.out;
  EXPECT_GT(regexHelp.out.size(), RunVelmar({"regex", "--help"}).out.size());

  const std::string version = RunVelmar({"--version"}).out;
  EXPECT_EQ(version, "velmar " VELMAR_VERSION "\n");
  for (const char* command : {"run", "pack", "regex"}) {
    EXPECT_EQ(RunVelmar({command, "--version"}).out, version) << command;
  }
  // The topic list names the commands.
  EXPECT_TRUE(Contains(RunVelmar({"help"}).out, "Commands:"));
}

TEST(CliCommands, RegexTakesAPatternThatLooksLikeAnOptionAfterTheDoubleDash) {
  const ProcessResult r = RunVelmar({"regex", "--", "--{help}"}, "a --help b");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.rfind("count:1;", 0), 0u) << r.out;
  const ProcessResult unknown = RunVelmar({"regex", "--bogus", "x"}, "");
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_TRUE(Contains(unknown.err, "unknown option: --bogus")) << unknown.err;
}

TEST(CliCommands, TablesOfTheManualAreAlignedInTheTerminal) {
  const ProcessResult r = RunVelmar({"help", "home"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> rows;
  std::size_t start = 0;
  for (std::size_t eol; (eol = r.out.find('\n', start)) != std::string::npos; start = eol + 1) {
    rows.push_back(r.out.substr(start, eol - start));
  }
  std::size_t header = rows.size();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_NE(rows[i].rfind("|", 0), 0u) << "raw table row: " << rows[i];
    if (rows[i].find("entry") != std::string::npos &&
        rows[i].find("what it holds") != std::string::npos)
      header = i;
  }
  ASSERT_LT(header + 2, rows.size()) << r.out;
  // The second column starts at one place in every row: under its header.
  const std::size_t column = rows[header].find("what it holds");
  EXPECT_EQ(rows[header + 1].find_first_not_of("- "), std::string::npos) << rows[header + 1];
  EXPECT_EQ(rows[header + 2].rfind("  `Script/`", 0), 0u) << rows[header + 2];
  EXPECT_EQ(rows[header + 2].find_first_not_of(' ', std::string("  `Script/`").size()), column)
      << rows[header + 2];
}

TEST(CliCommands, RunsAScriptFromStandardInput) {
  TempDir home;
  const ProcessResult r =
      RunVelmar({"run", "--home", home.path().string(), "-"}, "show from the pipe\nright ok\n");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "show: from the pipe\nright: ok\nstate: exit\n");
  // The copy kept for the run is gone afterwards.
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(home.path() / "Temp", ec)) {
    ADD_FAILURE() << "left behind: " << entry.path();
  }
}

// A full disk under standard output: the run is stopped and says so,
// instead of looping on with its record lost and ending with 0.
TEST(CliCommands, AnOutputThatCannotBeWrittenEndsTheRun) {
  TempDir home;
  const auto script = home.Write("Script/loop.vlm", "while 1\n{\nshow line\npause 10\n}\n");
  const ProcessResult r = RunProcess(
      {"/bin/sh", "-c", "\"$0\" run --home \"$1\" \"$2\" > /dev/full; echo status=$? >&2",
       VELMAR_CLI_PATH, home.path().string(), script.string()},
      {}, 30);
  EXPECT_FALSE(r.timedOut);
  EXPECT_TRUE(
      Contains(r.err, "velmar run: cannot write the standard output: No space left on device"))
      << r.err;
  EXPECT_TRUE(Contains(r.err, "status=1\n")) << r.err;
}

TEST(CliCommands, TheHomeFolderAndItsCodePageAreCheckedAtTheStart) {
  TempDir base;
  const std::string missing = (base.path() / "typo").string();
  const auto script = base.Write("s.vlm", "show hi\n");
  const ProcessResult refused = RunVelmar({"run", "--home", missing, script.string()});
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_TRUE(Contains(refused.err, "--create-home")) << refused.err;
  EXPECT_FALSE(std::filesystem::exists(missing));

  const ProcessResult created =
      RunVelmar({"run", "--home", missing, "--create-home", script.string()});
  EXPECT_EQ(created.exitCode, 0) << created.err;
  EXPECT_EQ(created.out, "show: hi\nstate: exit\n");
  EXPECT_TRUE(std::filesystem::is_directory(missing));

  TempDir home;
  home.Write("Config.ini", "[setting]\ncodepage=1252\n");
  const ProcessResult badPage = RunVelmar({"run", "--home", home.path().string(), script.string()});
  EXPECT_EQ(badPage.exitCode, 2);
  EXPECT_TRUE(Contains(badPage.err, "codepage=1252 is not supported")) << badPage.err;
  EXPECT_TRUE(badPage.out.empty()) << badPage.out;
  // The command line's code page stands in for the file's.
  const ProcessResult overridden =
      RunVelmar({"run", "--home", home.path().string(), "--codepage", "65001", script.string()});
  EXPECT_EQ(overridden.exitCode, 0) << overridden.err;
}

TEST(CliCommands, ANoteThatCannotBeWrittenIsReportedNotPrinted) {
  TempDir home;
  home.Write("Temp", "a file where the folder should be");
  const auto script = home.Write("Script/n.vlm", "note some text\nshow after\n");
  const ProcessResult r = RunVelmar({"run", "--home", home.path().string(), script.string()});
  EXPECT_EQ(r.out, "show: after\nstate: exit\n");
  EXPECT_TRUE(Contains(r.err, "velmar run: cannot write the note file")) << r.err;
}

TEST(CliCommands, WindowStatementsSayOnceThatTheConsoleHasNone) {
  TempDir home;
  const auto script = home.Write("Script/w.vlm",
                                 "openwindow main<<<<html></html>\nshowwindow main\n"
                                 "openwindow other<<<<html></html>\nshow done\n");
  const ProcessResult r = RunVelmar({"run", "--home", home.path().string(), script.string()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "show: done\nstate: exit\n");
  EXPECT_EQ(CountOf(r.err, "a console has no windows"), 1u) << r.err;
  EXPECT_TRUE(Contains(r.err, "tamarind")) << r.err;
}

// GBK bytes of 中文 and their UTF-8 form.
constexpr char kGbkText[] = "\xD6\xD0\xCE\xC4";
constexpr char kUtf8Text[] = "\xE4\xB8\xAD\xE6\x96\x87";

TEST(CliCommands, OutputCodePageConvertsTheLinesOfAGbkScript) {
  TempDir home;
  const auto script = home.Write("Script/g.vlm", std::string("show ") + kGbkText + "\n");
  const std::string h = home.path().string();
  // A pipe keeps the script's bytes.
  const ProcessResult kept = RunVelmar({"run", "--home", h, "--codepage", "936", script.string()});
  EXPECT_EQ(kept.out, std::string("show: ") + kGbkText + "\nstate: exit\n");
  const ProcessResult converted = RunVelmar(
      {"run", "--home", h, "--codepage", "936", "--output-codepage", "65001", script.string()});
  EXPECT_EQ(converted.out, std::string("show: ") + kUtf8Text + "\nstate: exit\n");
  EXPECT_EQ(RunVelmar({"run", "--home", h, "--output-codepage", "1252", script.string()}).exitCode,
            2);
}

// On a terminal the locale decides: UTF-8 gets the texts converted, any
// other locale the script's bytes. `script` gives the run a terminal.
TEST(CliCommands, ATerminalWithAUtf8LocaleGetsUtf8) {
  TempDir home;
  home.Write("Script/g.vlm", std::string("show ") + kGbkText + "\n");
  auto onTerminal = [&](const std::string& locale) {
    return RunProcess({"/bin/sh", "-c",
                       "command -v script >/dev/null || exit 99; script -q -c \"env LC_ALL=$0 "
                       "'$1' run --home '$2' --codepage 936 g\" /dev/null",
                       locale, VELMAR_CLI_PATH, home.path().string()});
  };
  const ProcessResult utf8 = onTerminal("C.UTF-8");
  if (utf8.exitCode == 99) VELMAR_SKIP_WITHOUT("script (util-linux)");
  EXPECT_EQ(utf8.out, std::string("show: ") + kUtf8Text + "\r\nstate: exit\r\n");
  EXPECT_EQ(onTerminal("C").out, std::string("show: ") + kGbkText + "\r\nstate: exit\r\n");
}

TEST(CliCommands, ADatabaseInAMissingFolderSaysWhy) {
  TempDir home;
  const auto script =
      home.Write("Script/d.vlm", "openaccess db nowhere/at/all.db\nshow status=[#status]\n");
  const ProcessResult r = RunVelmar({"run", "--home", home.path().string(), script.string()});
  EXPECT_EQ(r.out, "show: status=0\nstate: exit\n");
  EXPECT_TRUE(Contains(r.err,
                       "velmar run: database db: the folder of the database file does not "
                       "exist: " +
                           (home.path() / "nowhere" / "at").string()))
      << r.err;
}

}  // namespace
}  // namespace velmar
