// Runs as a supervisor starts them: `velmar run` and `vlmpack --headless`
// with the JSON record on standard output, a time limit, and exit statuses
// in which the worst outcome of all scripts decides.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace velmar {
namespace {

using testing::ProcessResult;
using testing::RunProcess;
using testing::RunVelmar;
using testing::TempDir;

// Every line of `out` as a JSON object; a line that is not one fails.
std::vector<nlohmann::json> Lines(const std::string& out) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    try {
      lines.push_back(nlohmann::json::parse(line));
    } catch (const std::exception& e) {
      ADD_FAILURE() << "not a JSON line: " << line << " (" << e.what() << ")";
    }
  }
  return lines;
}

std::vector<std::string> KindsOf(const std::vector<nlohmann::json>& lines, int script) {
  std::vector<std::string> kinds;
  for (const auto& j : lines) {
    if (j["script"] == script) kinds.push_back(j["kind"]);
  }
  return kinds;
}

ProcessResult Vlmpack(const TempDir& home, const std::vector<std::string>& extra,
                      const std::string& input = {}) {
  std::vector<std::string> argv{VLMPACK_PATH, "--headless", "--home", home.path().string()};
  argv.insert(argv.end(), extra.begin(), extra.end());
  return RunProcess(argv, input, 60);
}

TEST(JsonRecord, EveryLineOfARunIsOneObjectOnStandardOutput) {
  TempDir home;
  const int port = testing::FreeLoopbackPort();  // nobody listens there
  home.Write("Script/t.vlm",
             "show a\\b\nline two\nright r\nleft l\nstate s\nprompt who?\nnote n\n"
             "show [#input]\ntimeout 1000\nget http://127.0.0.1:" +
                 std::to_string(port) + "/\n\ncall <missing>\n");
  const ProcessResult r =
      RunVelmar({"run", "--home", home.path().string(), "--jsonl", "t"}, "Ann\n");
  EXPECT_EQ(r.exitCode, 1) << r.err;
  // Diagnostics and the script error are lines of the record too.
  EXPECT_EQ(r.err, "");
  const auto lines = Lines(r.out);
  ASSERT_GE(lines.size(), 10u) << r.out;
  for (const auto& j : lines) {
    EXPECT_EQ(j["script"], 1);
    EXPECT_EQ(j["name"], "t");
    EXPECT_TRUE(j["time"].is_string());
  }
  EXPECT_EQ(lines[0]["kind"], "show");
  EXPECT_EQ(lines[0]["text"], "a\\b\nline two");  // no console escapes in JSON
  const std::vector<std::string> kinds = KindsOf(lines, 1);
  const std::vector<std::string> expected{"show",  "right",      "left",  "state", "prompt",
                                          "note",  "show",       "diagnostic", "error", "alert",
                                          "state"};
  EXPECT_EQ(kinds, expected) << r.out;
  EXPECT_EQ(lines[6]["text"], "Ann");
  const auto& error = lines[8];
  EXPECT_EQ(error["line"], 12);
  EXPECT_NE(error["file"].get<std::string>().find("t.vlm"), std::string::npos);
  EXPECT_NE(error["text"].get<std::string>().find("CALL <missing>"), std::string::npos);
  EXPECT_EQ(lines.back()["text"], "exit");
}

TEST(JsonRecord, BadBytesOfEitherCodePageGiveValidLines) {
  TempDir home;
  home.Write("Script/u.vlm", "show \xFF\xFE ok \xE4\xB8\xAD\n");
  home.Write("Script/g.vlm", "show \xD6\xD0\xCE\xC4 \x81 \xFF\n");
  const ProcessResult utf8 = RunVelmar({"run", "--home", home.path().string(), "--jsonl", "u"});
  EXPECT_EQ(utf8.exitCode, 0) << utf8.err;
  const auto u = Lines(utf8.out);
  ASSERT_EQ(u.size(), 2u) << utf8.out;
  EXPECT_EQ(u[0]["text"], "\xEF\xBF\xBD\xEF\xBF\xBD ok 中");
  EXPECT_TRUE(u[0]["raw"].is_string());
  // A GBK script's text is UTF-8 in the record, whatever the output code page.
  const ProcessResult gbk = RunVelmar({"run", "--home", home.path().string(), "--codepage", "936",
                                       "--output-codepage", "936", "--jsonl", "g"});
  EXPECT_EQ(gbk.exitCode, 0) << gbk.err;
  const auto g = Lines(gbk.out);
  ASSERT_EQ(g.size(), 2u) << gbk.out;
  EXPECT_EQ(g[0]["text"], "中文 \xEF\xBF\xBD \xEF\xBF\xBD");
}

TEST(JsonRecord, AClosedPipeStopsTheRunWithAnError) {
  TempDir home;
  home.Write("Script/loop.vlm", "while 1\n{\nshow again and again\n}\n");
  const std::string status = (home.path() / "status").string();
  // The reader is gone before the first line: the script is stopped, and
  // the program says why instead of dying of the broken pipe.
  const std::string shell =
      "{ \"$0\" run --home \"$1\" --jsonl loop 2>\"$2.err\"; echo $? >\"$2\"; } | true\n"
      "cat \"$2\" \"$2.err\"\n";
  const ProcessResult r = RunProcess(
      {"/bin/sh", "-c", shell, VELMAR_CLI_PATH, home.path().string(), status}, {}, 60);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.out.substr(0, 2), "1\n") << r.out;
  EXPECT_NE(r.out.find("cannot write the standard output"), std::string::npos) << r.out;

  // The runner stops all its scripts, also those whose lines did not fail.
  home.Write("Script/quiet.vlm", "while 1\n{\npause 50\n}\n");
  home.Write("Velmar.boot", "L^loop.vlm^\nQ^quiet.vlm^\n");
  const std::string runner =
      "{ \"$0\" --headless --home \"$1\" --jsonl 2>\"$2.err\"; echo $? >\"$2\"; } | true\n"
      "cat \"$2\" \"$2.err\"\n";
  const ProcessResult v = RunProcess(
      {"/bin/sh", "-c", runner, VLMPACK_PATH, home.path().string(), status}, {}, 60);
  EXPECT_FALSE(v.timedOut);
  EXPECT_EQ(v.out.substr(0, 2), "1\n") << v.out;
  EXPECT_NE(v.out.find("cannot write the standard output"), std::string::npos) << v.out;
}

TEST(TimeLimit, EndsARunAsAStopDoes) {
  TempDir home;
  home.Write("Script/slow.vlm", "show started\npause 30000\nshow never\n");
  const ProcessResult r =
      RunVelmar({"run", "--home", home.path().string(), "--time-limit", "0.3", "slow"});
  EXPECT_EQ(r.exitCode, 124) << r.err;
  EXPECT_EQ(r.out, "show: started\nstate: sleep\nstate: stop\nstate: exit\n");
  // A run that ends in time is not touched by its limit.
  home.Write("Script/quick.vlm", "show done\n");
  const ProcessResult quick =
      RunVelmar({"run", "--home", home.path().string(), "--time-limit=60", "quick"});
  EXPECT_EQ(quick.exitCode, 0) << quick.err;
  EXPECT_EQ(quick.out, "show: done\nstate: exit\n");
}

TEST(TimeLimit, StopsEveryScriptOfTheRunner) {
  TempDir home;
  home.Write("Script/loop.vlm", "show looping\nwhile 1\n{\npause 50\n}\n");
  home.Write("Script/wait.vlm", "show waiting\nsuspend\nshow resumed\n");
  home.Write("Velmar.boot", "Loop^loop.vlm^\nWait^wait.vlm^\n");
  const ProcessResult r = Vlmpack(home, {"--jsonl", "--time-limit", "0.5"});
  EXPECT_EQ(r.exitCode, 124) << r.err;
  const auto lines = Lines(r.out);
  for (int script : {1, 2}) {
    const auto kinds = KindsOf(lines, script);
    ASSERT_GE(kinds.size(), 2u) << r.out;
    EXPECT_EQ(kinds[kinds.size() - 2], "state") << r.out;
    EXPECT_EQ(kinds.back(), "state") << r.out;
  }
  EXPECT_EQ(r.out.find("resumed"), std::string::npos) << r.out;
  for (const auto& j : lines) EXPECT_EQ(j["name"], j["script"] == 1 ? "Loop" : "Wait");

  for (const char* bad : {"0", "-3", "later"}) {
    const ProcessResult refused = Vlmpack(home, {"--time-limit", bad});
    EXPECT_EQ(refused.exitCode, 2) << bad;
    EXPECT_TRUE(refused.out.empty()) << refused.out;
  }
  // The desktop runner is not for supervisors.
  const ProcessResult windowed =
      RunProcess({VLMPACK_PATH, "--home", home.path().string(), "--jsonl"}, {}, 60);
  EXPECT_EQ(windowed.exitCode, 2);
  EXPECT_NE(windowed.err.find("--headless"), std::string::npos) << windowed.err;
}

TEST(ExitStatus, TheWorstScriptDecidesForTheRunner) {
  TempDir home;
  home.Write("Script/ok.vlm", "show ok\n");
  home.Write("Script/bad.vlm", "call <missing>\n");
  home.Write("Script/slow.vlm", "pause 30000\n");
  struct Case {
    std::string boot;
    std::vector<std::string> options;
    int status;
  };
  const Case cases[] = {
      {"a^ok.vlm^\n", {}, 0},
      {"a^ok.vlm^\nb^bad.vlm^\n", {}, 1},
      // An error weighs more than the time limit that ended the others.
      {"a^bad.vlm^\nb^slow.vlm^\n", {"--time-limit", "0.3"}, 1},
      {"a^ok.vlm^\nb^slow.vlm^\n", {"--time-limit", "0.3"}, 124},
      {"a^bad.vlm^\nb^missing.vlm^\n", {}, 3},
  };
  for (const Case& c : cases) {
    home.Write("Velmar.boot", c.boot);
    const ProcessResult r = Vlmpack(home, c.options);
    EXPECT_EQ(r.exitCode, c.status) << c.boot << r.err;
  }
  // The runner's own lines join the record: the boot file's message and
  // why a script could not be read.
  home.Write("Velmar.boot", "b^missing.vlm^\n");
  const ProcessResult r = Vlmpack(home, {"--jsonl"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.err, "");
  const auto lines = Lines(r.out);
  ASSERT_FALSE(lines.empty()) << r.out;
  EXPECT_TRUE(lines[0]["script"].is_null());
  EXPECT_EQ(lines[0]["kind"], "diagnostic");
  EXPECT_NE(lines[0]["text"].get<std::string>().find("cannot read the script"), std::string::npos);
}

TEST(ExitStatus, SigtermDecidesOverAScriptError) {
  TempDir home;
  home.Write("Script/bad.vlm", "call <missing>\n");
  home.Write("Script/loop.vlm", "show looping\nwhile 1\n{\npause 50\n}\n");
  home.Write("Velmar.boot", "b^bad.vlm^\nl^loop.vlm^\n");
  const std::string out = (home.path() / "out.txt").string();
  const std::string shell =
      "\"$0\" --headless --jsonl --home \"$1\" > \"$2\" & pid=$!\n"
      "n=0; until grep -q 'looping' \"$2\"; do\n"
      "  sleep 0.05; n=$((n+1)); [ $n -gt 400 ] && break\n"
      "done\n"
      "kill -TERM $pid; wait $pid; echo \"status=$?\"\n";
  const ProcessResult r =
      RunProcess({"/bin/sh", "-c", shell, VLMPACK_PATH, home.path().string(), out}, {}, 60);
  EXPECT_EQ(r.out, "status=143\n") << r.err;
  const auto lines = Lines(testing::ReadFile(out));
  EXPECT_EQ(KindsOf(lines, 2).back(), "state");
}

}  // namespace
}  // namespace velmar
