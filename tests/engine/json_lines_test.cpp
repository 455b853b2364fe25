// The JSON record's lines: valid UTF-8 whatever the bytes of the script's
// text, nothing lost (the bytes come back from "raw"), and the time limit's
// accepted values.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "engine/json_lines.h"
#include "engine/run_deadline.h"
#include "engine/run_outcome.h"

namespace velmar {
namespace {

const CodePage& Utf8() { return CodePage::Get(CodePage::kUtf8); }
const CodePage& Gbk() { return CodePage::Get(CodePage::kGbk); }

std::string Decode64(const std::string& text) {
  const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    bits = bits << 6 | static_cast<uint32_t>(digits.find(c));
    if ((count += 6) >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

nlohmann::json Parse(const std::string& line) {
  EXPECT_FALSE(line.empty());
  EXPECT_EQ(line.back(), '\n');
  EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line per object";
  return nlohmann::json::parse(line.substr(0, line.size() - 1));
}

TEST(JsonLines, InvalidBytesBecomeReplacementsAndTheRawBytesAreKept) {
  // Each is malformed UTF-8: a stray continuation, an overlong form, a
  // surrogate, past U+10FFFF, a sequence cut short at the end.
  const std::string bad[] = {"a\x80z", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                             "ok \xE4\xB8", std::string("nul\0byte\xFF", 9)};
  for (const std::string& text : bad) {
    JsonLineFields fields;
    fields.script = 7;
    fields.name = "n";
    fields.kind = "show";
    fields.text = text;
    const nlohmann::json j = Parse(FormatJsonLine(fields, Utf8()));
    EXPECT_NE(j["text"].get<std::string>().find("\xEF\xBF\xBD"), std::string::npos) << text;
    EXPECT_EQ(Decode64(j["raw"].get<std::string>()), text);
  }
  // Well-formed text, control characters and quotes included, stays as it
  // is and has no "raw".
  JsonLineFields fields;
  fields.kind = "show";
  const std::string good = "中文 \"q\" \\ \t\r\n\x01 \xF0\x9F\x98\x80";
  fields.text = good;
  const std::string line = FormatJsonLine(fields, Utf8());
  EXPECT_EQ(line.rfind("{\"script\":null,\"name\":\"\",\"time\":", 0), 0u) << line;
  const nlohmann::json j = Parse(line);
  EXPECT_EQ(j["text"], good);
  EXPECT_FALSE(j.contains("raw"));
}

TEST(JsonLines, GbkTextIsConvertedAndItsBadBytesReplacedOneByOne) {
  bool replaced = false;
  EXPECT_EQ(ToUtf8Replacing("\xD6\xD0\xCE\xC4?", Gbk(), replaced), "中文?");
  EXPECT_FALSE(replaced);
  // A lead byte without a trail byte it can pair with gives up only itself:
  // the ASCII after it is still shown.
  EXPECT_EQ(ToUtf8Replacing("\x81 x\xFF", Gbk(), replaced), "\xEF\xBF\xBD x\xEF\xBF\xBD");
  EXPECT_TRUE(replaced);
  JsonLineFields fields;
  fields.kind = "show";
  fields.name = "\xD6\xD0";
  fields.text = "\xD6\xD0\x81";
  const nlohmann::json j = Parse(FormatJsonLine(fields, Gbk()));
  EXPECT_EQ(j["name"], "中");
  EXPECT_EQ(j["text"], "中\xEF\xBF\xBD");
  EXPECT_EQ(Decode64(j["raw"].get<std::string>()), "\xD6\xD0\x81");
}

TEST(JsonLines, ErrorsCarryTheirPositionAndTimesAreUtc) {
  JsonLineFields fields;
  fields.script = 1;
  fields.kind = "error";
  fields.text = "why";
  fields.textIsUtf8 = true;
  fields.file = "Script/a.vlm";
  fields.line = 12;
  const nlohmann::json j = Parse(FormatJsonLine(fields, Gbk()));
  EXPECT_EQ(j["file"], "Script/a.vlm");
  EXPECT_EQ(j["line"], 12);
  const std::string time = j["time"];
  ASSERT_EQ(time.size(), 24u) << time;
  EXPECT_EQ(time[10], 'T');
  EXPECT_EQ(time.back(), 'Z');
  EXPECT_EQ(Base64(""), "");
  EXPECT_EQ(Base64("ab"), "YWI=");
  EXPECT_EQ(Base64("abcd"), "YWJjZA==");
}

TEST(TimeLimit, TakesPositiveSecondsOnly) {
  EXPECT_DOUBLE_EQ(ParseTimeLimit("30")->count(), 30.0);
  EXPECT_DOUBLE_EQ(ParseTimeLimit("0.25")->count(), 0.25);
  EXPECT_DOUBLE_EQ(ParseTimeLimit(".5")->count(), 0.5);
  for (const char* bad : {"0", "0.0", "-1", "+1", "", ".", "1e3", "inf", "nan", "0x10", " 5", "5s",
                          "1.2.3", "99999999999999999999"}) {
    EXPECT_FALSE(ParseTimeLimit(bad).has_value()) << bad;
  }
}

TEST(TimeLimit, ExpiresOnceOrNeverAfterCancel) {
  int calls = 0;
  {
    RunDeadline deadline;
    deadline.Start(std::chrono::milliseconds(10), [&] { calls += 1; });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(deadline.expired());
  }
  EXPECT_EQ(calls, 1);
  RunDeadline cancelled;
  cancelled.Start(std::chrono::seconds(30), [&] { calls += 1; });
  const auto before = std::chrono::steady_clock::now();
  cancelled.Cancel();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
  EXPECT_FALSE(cancelled.expired());
  EXPECT_EQ(calls, 1);
}

TEST(ExitStatus, TheWorstOutcomeDecides) {
  EXPECT_EQ(WorseOutcome(RunOutcome::kEnded, RunOutcome::kTimeLimit), RunOutcome::kTimeLimit);
  EXPECT_EQ(WorseOutcome(RunOutcome::kScriptError, RunOutcome::kTimeLimit),
            RunOutcome::kScriptError);
  EXPECT_EQ(WorseOutcome(RunOutcome::kUnreadable, RunOutcome::kScriptError),
            RunOutcome::kUnreadable);
  EXPECT_EQ(WorseOutcome(RunOutcome::kScriptError, RunOutcome::kTerminated),
            RunOutcome::kTerminated);
  // The statuses supervisors already know keep their numbers.
  EXPECT_EQ(ExitStatusOf(RunOutcome::kScriptError), 1);
  EXPECT_EQ(ExitStatusOf(RunOutcome::kUsage), 2);
  EXPECT_EQ(ExitStatusOf(OutcomeOfSignal(2)), 130);
  EXPECT_EQ(ExitStatusOf(OutcomeOfSignal(15)), 143);
}

}  // namespace
}  // namespace velmar
