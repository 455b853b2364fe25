// End-to-end runs of `vlmpack --headless`: the boot file, the scripts'
// requests on standard output, the end of the program after the last
// script, the quit procedure on SIGTERM and bad boot files.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace velmar {
namespace {

using testing::ProcessResult;
using testing::RunProcess;
using testing::TempDir;

constexpr char kBootMessageLine[] = "alert: 启动文件(Velmar.boot)无法打开或者格式无效!\n";

ProcessResult RunHeadless(const TempDir& home, const std::string& input = {}, int timeout = 60) {
  return RunProcess({VLMPACK_PATH, "--headless", "--home", home.path().string()}, input, timeout);
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) {
    ++count;
  }
  return count;
}

TEST(Vlmpack, StartsEveryBootLineAndEndsAfterTheLastScript) {
  TempDir home;
  home.Write("Script/slow.vlm", "show slow [#param] [#source]\npause 400\nshow slow done\n");
  home.Write("Script/fast.vlm", "show fast [#param]\n");
  home.Write("Velmar.boot", "Slow one^slow.vlm^p1\r\nFast one^fast.vlm^p2^ignored\r\n");
  const ProcessResult r = RunHeadless(home);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "show: slow p1 " + home.path().string() + "/Script/slow.vlm\n"))
      << r.out;
  EXPECT_TRUE(Contains(r.out, "show: fast p2\n")) << r.out;
  // The program waited for the slower script.
  EXPECT_TRUE(Contains(r.out, "show: slow done\n")) << r.out;
  EXPECT_EQ(r.out.rfind("state: exit\n"), r.out.size() - 12) << r.out;
}

TEST(Vlmpack, ScriptErrorsNameTheirFileAndLineOnStandardError) {
  TempDir home;
  home.Write("Script/bad.vlm", "show before\n\ncall <missing>\n");
  home.Write("Velmar.boot", "Bad^bad.vlm^\r\n");
  const ProcessResult r = RunHeadless(home);
  // The alert stays the run's record; standard error says where.
  EXPECT_TRUE(Contains(r.out, "alert: 出错：\"CALL <missing>\"")) << r.out;
  EXPECT_TRUE(Contains(r.err, home.path().string() +
                                  "/Script/bad.vlm:3: error: use of an undefined section name "
                                  "(CALL <missing>)\n"))
      << r.err;
}

TEST(Vlmpack, LinesNeedThreeFieldsAndEmptyFieldsCount) {
  TempDir home;
  home.Write("Script/main.vlm", "show param=[#param].\n");
  home.Write("Velmar.boot", "a^main.vlm\na^main.vlm^\n\n^^\n");
  const ProcessResult r = RunHeadless(home);
  EXPECT_EQ(r.exitCode, 3) << r.err;  // the folder is no script
  // `^^` starts the folder Script/ itself, which ends at once; only the
  // second line runs main.vlm.
  EXPECT_EQ(r.out.find("show: param=.\n"), r.out.rfind("show: param=.\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "show: param=.\n")) << r.out;
  EXPECT_TRUE(Contains(r.err, "cannot read the script")) << r.err;
}

TEST(Vlmpack, BootFileWithoutUsableLinesShowsTheMessageAndExitsAsUnreadable) {
  TempDir home;
  home.Write("Script/main.vlm", "show never\n");
  for (const std::string boot : {"main.vlm\nname main.vlm param\n", "a^main.vlm\n", ""}) {
    home.Write("Velmar.boot", boot);
    const ProcessResult r = RunHeadless(home);
    EXPECT_EQ(r.exitCode, 3) << boot;
    EXPECT_EQ(r.out, kBootMessageLine) << boot;
  }
  std::filesystem::remove(home.path() / "Velmar.boot");
  const ProcessResult missing = RunHeadless(home);
  EXPECT_EQ(missing.exitCode, 3);
  EXPECT_EQ(missing.out, kBootMessageLine);
  EXPECT_TRUE(Contains(missing.err, "cannot open the boot file")) << missing.err;
  // A folder in place of the boot file is no boot file either.
  std::filesystem::create_directory(home.path() / "Velmar.boot");
  const ProcessResult folder = RunHeadless(home);
  EXPECT_EQ(folder.exitCode, 3);
  EXPECT_EQ(folder.out, kBootMessageLine);
}

TEST(Vlmpack, UnreadableScriptsEndAtOnceAndCountAsEnded) {
  TempDir home;
  home.Write("Script/ok.vlm", "pause 200\nshow ok\n");
  std::filesystem::create_directories(home.path() / "Script" / "folder");
  home.Write("Velmar.boot", "a^missing.vlm^\nb^folder^\nc^ok.vlm^\n");
  const ProcessResult r = RunHeadless(home);
  // The others ran to their end, but the run did not do all it was asked.
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_TRUE(Contains(r.out, "show: ok\n")) << r.out;
  // Each of the three reports its end.
  EXPECT_EQ(CountOf(r.out, "state: exit\n"), 3u) << r.out;
  EXPECT_TRUE(
      Contains(r.err, "cannot read the script " + home.path().string() + "/Script/missing.vlm"))
      << r.err;
  EXPECT_TRUE(Contains(r.err, "/Script/folder;")) << r.err;
}

TEST(Vlmpack, MissingScriptFolderIsNamed) {
  TempDir home;
  home.Write("Velmar.boot", "a^main.vlm^\n");
  const ProcessResult r = RunHeadless(home);
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.out, "state: exit\n");
  EXPECT_TRUE(Contains(r.err, "there is no Script folder in " + home.path().string())) << r.err;
}

TEST(Vlmpack, HugeAndBinaryBootFilesAreHandled) {
  TempDir home;
  home.Write("Script/main.vlm", "show ran [#param]\n");
  // 1 GB without a line end, as a sparse file: one overlong line, skipped
  // without holding it in memory.
  {
    const std::string path = (home.path() / "Velmar.boot").string();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t{1} << 30), 0);
    ::close(fd);
  }
  const ProcessResult huge = RunHeadless(home, {}, 120);
  EXPECT_EQ(huge.exitCode, 3) << huge.err;
  EXPECT_EQ(huge.out, kBootMessageLine);
  EXPECT_TRUE(Contains(huge.err, "longer than")) << huge.err;

  // Binary bytes, NUL included: a usable line whose file name holds a NUL
  // names no file; the good line still runs, with its binary parameter.
  home.Write("Velmar.boot", std::string("\x01\xff^ma\0in.vlm^x\n\xfe^main.vlm^\x02\x80\n", 29));
  const ProcessResult binary = RunHeadless(home);
  EXPECT_EQ(binary.exitCode, 3) << binary.err;
  EXPECT_TRUE(Contains(binary.out, std::string("show: ran \x02\x80\n"))) << binary.out;
  EXPECT_TRUE(Contains(binary.err, "cannot read the script")) << binary.err;
}

TEST(Vlmpack, PromptsReadStandardInput) {
  TempDir home;
  home.Write("Script/ask.vlm", "prompt name?\nshow hello [#input]\n");
  home.Write("Velmar.boot", "ask^ask.vlm^\n");
  const ProcessResult r = RunHeadless(home, "Ann\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "prompt: name?\nshow: hello Ann\nstate: exit\n");
}

TEST(Vlmpack, TrayStatementsDoNothingWithoutADesktop) {
  TempDir home;
  home.Write("Script/tray.vlm", "hidetray\nshowtray\nshowtray\nhidetray\nshow done\n");
  home.Write("Velmar.boot", "t^tray.vlm^\n");
  const ProcessResult r = RunHeadless(home);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "show: done\nstate: exit\n");
}

// SIGTERM runs the quit procedure: a looping script and a suspended one are
// both stopped (the suspended one is resumed to see the stop) and the
// program exits with 128 + SIGTERM, as velmar run does.
TEST(Vlmpack, SigtermStopsLoopingAndSuspendedScripts) {
  TempDir home;
  home.Write("Script/loop.vlm", "show looping\nwhile 1\n{\npause 50\n}\n");
  home.Write("Script/paused.vlm", "show paused\nsuspend\nshow resumed\n");
  home.Write("Velmar.boot", "l^loop.vlm^\np^paused.vlm^\n");
  const std::string out = (home.path() / "out.txt").string();
  const std::string shell =
      "\"$0\" --headless --home \"$1\" > \"$2\" & pid=$!\n"
      "n=0; until grep -q 'show: paused' \"$2\" && grep -q 'show: looping' \"$2\"; do\n"
      "  sleep 0.05; n=$((n+1)); [ $n -gt 400 ] && break\n"
      "done\n"
      "kill -TERM $pid; wait $pid; echo \"status=$?\"\n";
  const ProcessResult r =
      RunProcess({"/bin/sh", "-c", shell, VLMPACK_PATH, home.path().string(), out}, {}, 60);
  EXPECT_EQ(r.out, "status=143\n") << r.err;
  const std::string printed = testing::ReadFile(out);
  EXPECT_FALSE(Contains(printed, "show: resumed")) << printed;
  // The two scripts' lines may interleave; each reports stop and exit.
  EXPECT_EQ(CountOf(printed, "state: stop\n"), 2u) << printed;
  EXPECT_EQ(CountOf(printed, "state: exit\n"), 2u) << printed;
}

TEST(Vlmpack, UsageErrors) {
  const ProcessResult r = RunProcess({VLMPACK_PATH, "--bogus"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(Contains(r.err, "unknown argument: --bogus")) << r.err;
  const ProcessResult noFolder = RunProcess({VLMPACK_PATH, "--home"});
  EXPECT_EQ(noFolder.exitCode, 2);
  // A mistyped home folder is refused, not made and run empty.
  TempDir base;
  const std::string typo = (base.path() / "typo").string();
  const ProcessResult missing = RunProcess({VLMPACK_PATH, "--headless", "--home", typo});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_TRUE(Contains(missing.err, "--create-home")) << missing.err;
  EXPECT_FALSE(std::filesystem::exists(typo));

  const ProcessResult help = RunProcess({VLMPACK_PATH, "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(Contains(help.out, "usage: vlmpack")) << help.out;
  EXPECT_TRUE(help.err.empty()) << help.err;
  const ProcessResult version = RunProcess({VLMPACK_PATH, "--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "vlmpack " VELMAR_VERSION "\n");
}

TEST(Vlmpack, SigintEndsWith130) {
  TempDir home;
  home.Write("Script/loop.vlm", "show looping\nwhile 1\n{\npause 50\n}\n");
  home.Write("Velmar.boot", "l^loop.vlm^\n");
  const std::string out = (home.path() / "out.txt").string();
  const std::string shell =
      // A shell starts background jobs with SIGINT ignored.
      "env --default-signal=INT \"$0\" --headless --home \"$1\" > \"$2\" & pid=$!\n"
      "n=0; until grep -q 'show: looping' \"$2\"; do\n"
      "  sleep 0.05; n=$((n+1)); [ $n -gt 400 ] && break\n"
      "done\n"
      "kill -INT $pid; wait $pid; echo \"status=$?\"\n";
  const ProcessResult r =
      RunProcess({"/bin/sh", "-c", shell, VLMPACK_PATH, home.path().string(), out}, {}, 60);
  EXPECT_EQ(r.out, "status=130\n") << r.err;
  EXPECT_TRUE(Contains(testing::ReadFile(out), "state: stop\n"));
}

}  // namespace
}  // namespace velmar
