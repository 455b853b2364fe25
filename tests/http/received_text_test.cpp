// A hostile page server on loopback: bodies, headers and cookies full of
// references to every sigil, `<<<` and `]`, and built-ins with side effects.
// Whatever the script does with them (get, match, replace, split, var,
// getcookies, a prompt, js, a native call), nothing of them runs and they come
// through byte for byte; `expandreceived=1` shows the old rule again.

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"
#include "test_servers.h"

namespace velmar::testing {
namespace {

const std::string kBody =
    "a]b,[@writefile<<<[@userpath]/pwned.txt<<<hello] [#secret] [@readfile<<<Config.ini] "
    "[~libc.getenv<<<HOME] [$all.0] [%t.0.0] [!x] x<<<y QQQ ]] [[ [#abc";
const std::string kHead =
    "HTTP/1.0 200 OK\r\nX-Evil: [@writefile<<<pwned_head.txt<<<1] ]] <<<\r\n"
    "Set-Cookie: c=[@writefile<<<pwned_cookie.txt<<<1]\r\n\r\n";

RawServer::Handler HostilePages() {
  return [](int fd, const std::string& request) {
    if (request.rfind("GET /simple", 0) == 0) {
      SendAll(fd, "HTTP/1.0 200 OK\r\n\r\na]b[@writefile<<<[@userpath]/pwned.txt<<<hello]");
    } else {
      SendAll(fd, kHead + kBody);
    }
  };
}

bool AnyPwned(const std::filesystem::path& home) {
  for (const auto& entry : std::filesystem::recursive_directory_iterator(home)) {
    if (entry.path().filename().string().rfind("pwned", 0) == 0) return true;
  }
  return false;
}

TEST(ReceivedText, HostilePagesNeverRunAndComeThroughWhole) {
  RawServer server(HostilePages());
  TempDir home;
  const std::string answer = "[@writefile<<<pwned_input.txt<<<1] ]<<<";
  const std::string hostileEnv = "[@writefile<<<pwned_native.txt<<<1]]";
  const auto script = home.Write(
      "Script/t.vlm",
      "get " + server.url("/page") +
          "\n"
          "eval [@writefile<<<o_body.txt<<<[#http_body]<<<w]\n"
          "eval [@writefile<<<o_head.txt<<<[#http_head]<<<w]\n"
          "eval [@writefile<<<o_len.txt<<<[@len<<<[#http_body]]<<<w]\n"
          "regex all {.*}\n"
          "match all [#http_body]\n"
          "eval [@writefile<<<o_match.txt<<<[$all.0]<<<w]\n"
          "var [#v] <[#http_body]>\n"
          "eval [@writefile<<<o_var.txt<<<[#v]<<<w]\n"
          "eval [@split<<<[#http_body]<<<,]\n"
          "eval [@writefile<<<o_split.txt<<<[#_1]<<<w]\n"
          "regex q {QQQ}\n"
          "var [#r] [#http_body]\n"
          "replace q [#r] -\n"
          "eval [@writefile<<<o_replace.txt<<<[#r]<<<w]\n"
          "getcookies [#ck] c\n"
          "eval [@writefile<<<o_cookie.txt<<<[#ck]<<<w]\n"
          "prompt answer?\n"
          "eval [@writefile<<<o_input.txt<<<[#input]<<<w]\n"
          "js \"[\" + \"@writefile<<<pwned_js.txt<<<1]\"\n"
          "eval [@writefile<<<o_js.txt<<<[#return]<<<w]\n"
          "loaddll libc libc.so.6\n"
          "eval [@writefile<<<o_native.txt<<<[~libc.getenv<<<VELMAR_HOSTILE]<<<w]\n"
          "eval [@writefile<<<o_strlen.txt<<<[~(int)libc.strlen<<<[#http_body]]<<<w]\n"
          "var [#i] 0\n"
          "while ([#i]<3)\n"
          "{\n"
          "var [#loop] [#loop][#http_body]\n"
          "var [#i] ([#i]+1)\n"
          "}\n"
          "eval [@writefile<<<o_loop.txt<<<[#loop]<<<w]\n");
  const auto result = RunVelmar({"run", "--home", home.path().string(), script.string()},
                                answer + "\n", 60, {"VELMAR_HOSTILE=" + hostileEnv});
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  const auto out = [&](const char* name) { return ReadFile(home.path() / name); };
  EXPECT_EQ(out("o_body.txt"), kBody);
  // `writefile` writes line ends as CR LF.
  std::string head;
  for (const char c : kHead) head += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(out("o_head.txt"), head);
  EXPECT_EQ(out("o_len.txt"), std::to_string(kBody.size()));
  EXPECT_EQ(out("o_match.txt"), kBody);
  EXPECT_EQ(out("o_var.txt"), "<" + kBody + ">");
  EXPECT_EQ(out("o_split.txt"), kBody.substr(4));
  std::string replaced = kBody;
  replaced.replace(replaced.find("QQQ"), 3, "-");
  EXPECT_EQ(out("o_replace.txt"), replaced);
  EXPECT_EQ(out("o_cookie.txt"), "[@writefile<<<pwned_cookie.txt<<<1]");
  EXPECT_EQ(out("o_input.txt"), answer);
  EXPECT_EQ(out("o_js.txt"), "[@writefile<<<pwned_js.txt<<<1]");
  EXPECT_EQ(out("o_native.txt"), hostileEnv);
  // The whole body was one argument, its `<<<` and `]` included.
  EXPECT_EQ(out("o_strlen.txt"), std::to_string(kBody.size()));
  EXPECT_EQ(out("o_loop.txt"), kBody + kBody + kBody);
  EXPECT_FALSE(AnyPwned(home.path()));
}

// The web built-ins read a variable named as `#name` as it stands; what
// they cut out of a received document is received text too.
TEST(ReceivedText, ValuesCutOutOfReceivedDocumentsStayData) {
  const std::string json =
      "{\"a\":\"[@writefile<<<pwned_json.txt<<<1]\",\"h\":\"&#91;@writefile&lt;&lt;&lt;"
      "pwned_html.txt&lt;&lt;&lt;1&#93;\"}";
  RawServer server([json](int fd, const std::string&) {
    SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n" + json);
  });
  TempDir home;
  const auto script = home.Write(
      "Script/t.vlm", "get " + server.url("/doc") +
                          "\n"
                          "var [#a] [@json<<<#http_body<<<a]\n"
                          "var [#h] [@htmldecode<<<[@json<<<#http_body<<<h]]\n"
                          "eval [@writefile<<<o_a.txt<<<[#a]<<<w]\n"
                          "eval [@writefile<<<o_h.txt<<<[#h]<<<w]\n");
  const auto result = RunVelmar({"run", "--home", home.path().string(), script.string()});
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_EQ(ReadFile(home.path() / "o_a.txt"), "[@writefile<<<pwned_json.txt<<<1]");
  EXPECT_EQ(ReadFile(home.path() / "o_h.txt"), "[@writefile<<<pwned_html.txt<<<1]");
  EXPECT_FALSE(AnyPwned(home.path()));
}

TEST(ReceivedText, ExpandReceivedBringsBackTheOldRule) {
  RawServer server(HostilePages());
  TempDir home;
  home.Write("Config.ini", "[setting]\nexpandreceived=1\n");
  const auto script = home.Write("Script/t.vlm", "get " + server.url("/simple") +
                                                     "\n"
                                                     "eval [@writefile<<<o_len.txt<<<[@len<<<[#http_body]]<<<w]\n");
  const auto result = RunVelmar({"run", "--home", home.path().string(), script.string()});
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_EQ(ReadFile(home.path() / "pwned.txt"), "hello");
  // `]` of the page closed the call: the length of "a" and the rest after it.
  EXPECT_EQ(ReadFile(home.path() / "o_len.txt").substr(0, 3), "1b1");
}

}  // namespace
}  // namespace velmar::testing
