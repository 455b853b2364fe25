#include <gtest/gtest.h>

#include <sstream>

#include "support/test_support.h"

namespace velmar {
namespace {

using testing::ProcessResult;
using testing::RunVelmar;
using testing::TempDir;

// Runs a script with `velmar run`; the callers skip (fail in CI) when the
// command has no `run` (it answers with a usage error).
ProcessResult RunScript(const TempDir& home, const std::string& script,
                        const std::vector<std::string>& options = {}) {
  const std::string path = home.Write("Script/test.vlm", script).string();
  std::vector<std::string> args{"run", "--home", home.path().string()};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back(path);
  return RunVelmar(args);
}

bool RunMissing(const ProcessResult& r) {
  return r.exitCode == 2;
}

std::vector<std::string> LinesStartingWith(const std::string& out, const std::string& prefix) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix, 0) == 0) lines.push_back(line.substr(prefix.size()));
  }
  return lines;
}

TEST(ValuesCli, ReferencesBuiltinsAndExpressionsTogether) {
  TempDir home;
  const ProcessResult r = RunScript(home,
                                    "<main>\n"
                                    "var [#i] 3\n"
                                    "var [#item_3] x\n"
                                    "show [#item_[#i]]\n"
                                    "show [@len<<<[#item_[#i]]abc]\n"
                                    "show [@split<<<a,b,c<<<,]-[#_2]\n"
                                    "var [#accuracy] 2\n"
                                    "show (1/3)\n"
                                    "var [#accuracy]\n"
                                    "show ([#i]*2.5)\n"
                                    "var [#n] 0\n"
                                    "while ([#n]<1000)\n"
                                    "{\n"
                                    "  var [#n] ([#n]+1)\n"
                                    "}\n"
                                    "show [#n]\n"
                                    "eval [@writefile<<<out.txt<<<[#n]<<<w]\n"
                                    "show [@readfile<<<out.txt<<<1] [!kept]\n");
  if (RunMissing(r)) VELMAR_SKIP_WITHOUT("velmar run (" + r.err + ")");
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::vector<std::string> expected{"x", "4", "3-c", "0.33", "8", "1000", "1000 [!kept]"};
  EXPECT_EQ(LinesStartingWith(r.out, "show: "), expected) << r.out;
  EXPECT_EQ(testing::ReadFile(home.path() / "out.txt"), "1000");
}

TEST(ValuesCli, ReferenceErrorsEndTheRunAfterTheStatement) {
  TempDir home;
  const ProcessResult r = RunScript(home,
                                    "show before\n"
                                    "show <[%t.0.0]>\n"
                                    "show after\n");
  if (RunMissing(r)) VELMAR_SKIP_WITHOUT("velmar run (" + r.err + ")");
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  const std::vector<std::string> expected{"before", "<>"};
  EXPECT_EQ(LinesStartingWith(r.out, "show: "), expected) << r.out;
  const auto alerts = LinesStartingWith(r.out, "alert: ");
  ASSERT_EQ(alerts.size(), 1u) << r.out;
  EXPECT_NE(alerts[0].find("原因：下标越界."), std::string::npos) << alerts[0];

  const ProcessResult growth = RunScript(home,
                                         "var [#a] x\n"
                                         "while (1)\n"
                                         "{\n"
                                         "  var [#a] [#a][#a]\n"
                                         "}\n");
  EXPECT_EQ(growth.exitCode, 1) << growth.err;
  const auto growthAlerts = LinesStartingWith(growth.out, "alert: ");
  ASSERT_EQ(growthAlerts.size(), 1u) << growth.out.substr(0, 2000);
  EXPECT_NE(growthAlerts[0].find("引用展开后的文本超过64MB．"), std::string::npos);
}

TEST(ValuesCli, DoubleByteCodePage) {
  TempDir home;
  // In GBK 0x81 0x5B is one character, so no reference starts at its `[`;
  // the second reference's name holds 0x81 0x5D, a character ending in `]`.
  const ProcessResult r = RunScript(home,
                                    "var [#a] A\n"
                                    "var [#b\x81]] B\n"
                                    "show \x81[#a] [#a] [#b\x81]]\n",
                                    {"--codepage", "936"});
  if (RunMissing(r)) VELMAR_SKIP_WITHOUT("velmar run (" + r.err + ")");
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::vector<std::string> expected{"\x81[#a] A B"};
  EXPECT_EQ(LinesStartingWith(r.out, "show: "), expected) << r.out;
}

}  // namespace
}  // namespace velmar
