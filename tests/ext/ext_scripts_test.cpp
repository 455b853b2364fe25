// Whole scripts through `velmar run`: native calls and JScript as a script
// author meets them.

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace velmar {
namespace {

using testing::ProcessResult;
using testing::RunVelmar;
using testing::TempDir;

// Runs a script in a fresh home folder; the callers skip (fail in CI) when
// the command has no `run` (a usage error, or a bare version banner).
ProcessResult RunScript(const TempDir& home, const std::string& script) {
  const auto path = home.Write("Script/ext.vlm", script);
  ProcessResult result = RunVelmar({"run", "--home", home.path().string(), path.string()}, {}, 60);
  return result;
}

bool RunIsMissing(const ProcessResult& result) {
  return result.exitCode == 2 || result.out == "velmar " VELMAR_VERSION "\n";
}

TEST(ExtScripts, NativeCallsInAScript) {
  TempDir home;
  const ProcessResult result = RunScript(home,
                                         "<main>\n"
                                         "loaddll t " VELMAR_EXT_TEST_LIB
                                         "\n"
                                         "show sum=[~(int)t.add<<<(int)1200<<<(int)34]\n"
                                         "show order=[~(int)t.minus<<<(int)1<<<(int)50]\n"
                                         "show text=[~t.join3<<<c<<<b<<<a]\n"
                                         "show mixed=[~t.repeat<<<(int)3<<<xy]\n"
                                         "unloaddll t\n"
                                         "show gone=[~(int)t.add<<<(int)1<<<(int)1]\n"
                                         "show never reached\n");
  if (RunIsMissing(result)) VELMAR_SKIP_WITHOUT("velmar run");
  ASSERT_FALSE(result.timedOut);
  const std::string all = result.out + result.err;
  EXPECT_NE(all.find("sum=1234"), std::string::npos) << all;
  EXPECT_NE(all.find("order=49"), std::string::npos) << all;
  EXPECT_NE(all.find("text=a|b|c"), std::string::npos) << all;
  EXPECT_NE(all.find("mixed=xyxyxy"), std::string::npos) << all;
  EXPECT_NE(all.find("t DLL文件不存在．"), std::string::npos) << all;
  EXPECT_EQ(all.find("never reached"), std::string::npos) << all;
}

TEST(ExtScripts, LoadErrorsInAScript) {
  TempDir home;
  home.Write("not_a_library.so", "plain text\n");
  const ProcessResult result = RunScript(home,
                                         "<main>\n"
                                         "loaddll bad not_a_library.so\n"
                                         "show loaded without a word\n"
                                         "show [~(int)bad.add<<<(int)1]\n"
                                         "show never reached\n");
  if (RunIsMissing(result)) VELMAR_SKIP_WITHOUT("velmar run");
  ASSERT_FALSE(result.timedOut);
  const std::string all = result.out + result.err;
  EXPECT_NE(all.find("loaded without a word"), std::string::npos) << all;
  EXPECT_NE(all.find("bad.add DLL中不存在该函数名．"), std::string::npos) << all;
  EXPECT_EQ(all.find("never reached"), std::string::npos) << all;

  const ProcessResult unload = RunScript(home, "<main>\nunloaddll nothing\nshow never reached\n");
  const std::string unloadAll = unload.out + unload.err;
  EXPECT_NE(unloadAll.find("UNLOADDLL nothing"), std::string::npos) << unloadAll;
  EXPECT_NE(unloadAll.find("释放了未定义的DLL．"), std::string::npos) << unloadAll;
  EXPECT_EQ(unloadAll.find("never reached"), std::string::npos) << unloadAll;
}

TEST(ExtScripts, JScriptInAScript) {
  TempDir home;
  home.Write("Config.ini", "[setting]\r\njstimeout=1\r\n");
  const ProcessResult result = RunScript(home,
                                         "<main>\n"
                                         "js 1+2\n"
                                         "show first=[#return]/[#status]\n"
                                         "js x=5\n"
                                         "js var local=1; x*2\n"
                                         "show second=[#return]/[#status]\n"
                                         "js typeof local\n"
                                         "show third=[#return]/[#status]\n"
                                         "js 1+\n"
                                         "show fourth=[#return]/[#status]\n"
                                         "js while(true){}\n"
                                         "show fifth=[#return]/[#status]\n"
                                         "js 6*7\n"
                                         "show sixth=[#return]/[#status]\n"
                                         "js undefined\n"
                                         "show seventh=[#return]/[#status]\n"
                                         "js x\n"
                                         "show eighth=[#return]/[#status]\n");
  if (RunIsMissing(result)) VELMAR_SKIP_WITHOUT("velmar run");
  ASSERT_FALSE(result.timedOut);
  const std::string all = result.out + result.err;
  EXPECT_NE(all.find("first=3/1"), std::string::npos) << all;
  EXPECT_NE(all.find("second=10/1"), std::string::npos) << all;
  EXPECT_NE(all.find("third=undefined/1"), std::string::npos) << all;
  // A failure leaves `return` as it was.
  EXPECT_NE(all.find("fourth=undefined/0"), std::string::npos) << all;
  EXPECT_NE(all.find("fifth=undefined/0"), std::string::npos) << all;
  EXPECT_NE(all.find("sixth=42/1"), std::string::npos) << all;
  EXPECT_NE(all.find("seventh=/1"), std::string::npos) << all;
  // The endless loop did not cost the engine its globals.
  EXPECT_NE(all.find("eighth=5/1"), std::string::npos) << all;
}

}  // namespace
}  // namespace velmar
