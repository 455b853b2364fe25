// Traces as people make and use them: `velmar run --trace` against a real
// loopback server, then `velmar trace har|curl|summary|view` over the file,
// the HAR checked by the npm packages har-validator and har-to-k6.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "http/test_servers.h"
#include "support/test_support.h"
#include "tooling/trace_reader.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using testing::RawServer;
using testing::ReadFile;
using testing::RunProcess;
using testing::RunVelmar;
using testing::TempDir;

// The npm packages the test setup installs (scripts/install-node-tools.sh).
fs::path NodeTools() {
  if (const char* given = std::getenv("VELMAR_NODE_TOOLS")) return given;
  return fs::path(VELMAR_SOURCE_DIR) / "build" / "node_tools";
}

class TraceRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server = std::make_unique<RawServer>([](int fd, const std::string& request) {
      const bool moved = request.rfind("GET /old", 0) == 0;
      const std::string body = "<html><p>price: 42</p><p>price: 7</p></html>";
      testing::SendAll(fd, moved
                               ? "HTTP/1.1 302 Found\r\nLocation: /new\r\nContent-Length: 0\r\n\r\n"
                               : "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nSet-Cookie: "
                                 "sid=s3cr3t; Path=/\r\nContent-Length: " +
                                     std::to_string(body.size()) + "\r\n\r\n" + body);
    });
    script = dir.Write("Script/t.vlm", "var [#base] " + server->url("") +
                                           "\n"
                                           "header Authorization: Bearer tok3n\n"
                                           "get [#base]/page?q=1\n"
                                           "regex price price: {[0-9]+}\n"
                                           "match price [#http_body]\n"
                                           "clear\n"
                                           "add user ann\n"
                                           "add password hunter2\n"
                                           "post [#base]/login\n"
                                           "get [#base]/old\n"
                                           "get http://127.0.0.1:1/refused\n"
                                           "show done\n");
    trace = (dir.path() / "t.trace").string();
  }
  testing::ProcessResult Run(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"run", "--home", dir.path().string(), "--trace", trace};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(script.string());
    return RunVelmar(args);
  }

  TempDir dir;
  std::unique_ptr<RawServer> server;
  fs::path script;
  std::string trace;
};

TEST_F(TraceRunTest, ARunLeavesEveryExchangeWithItsPositionAndTheBytesAsSent) {
  const auto run = Run({"--trace-secrets"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("show: done"), std::string::npos);
  struct stat st;
  ASSERT_EQ(::stat(trace.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  TraceFile file;
  std::string error;
  ASSERT_TRUE(ReadTraceFile(trace, file, error)) << error;
  EXPECT_TRUE(file.problems.empty());
  const auto exchanges = file.Exchanges();
  ASSERT_EQ(exchanges.size(), 4u);
  const auto sent = server->requests();
  ASSERT_EQ(sent.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(file.TextOf(*exchanges[i], "request"), sent[i]);
  EXPECT_EQ((*exchanges[0])["at"], script.string() + ":3");
  EXPECT_EQ((*exchanges[0])["status"], 200);
  EXPECT_EQ(file.TextOf(*exchanges[0], "response"), "<html><p>price: 42</p><p>price: 7</p></html>");
  EXPECT_GE((*exchanges[0])["timing"]["connect"].get<int64_t>(), 0);
  EXPECT_GE((*exchanges[0])["timing"]["total"].get<int64_t>(),
            (*exchanges[0])["timing"]["firstByte"].get<int64_t>());
  EXPECT_EQ((*exchanges[2])["status"], 302);
  EXPECT_NE((*exchanges[3])["error"].get<std::string>().find("cannot connect"), std::string::npos);
  EXPECT_EQ((*exchanges[3])["at"], script.string() + ":11");
  std::size_t statements = 0;
  for (const auto& event : file.events) statements += event["ev"] == "stmt";
  EXPECT_EQ(statements, 13u);  // twelve lines and the final exit
}

TEST_F(TraceRunTest, TheCommandsShowTheTraceAndHarPassesRealConsumers) {
  ASSERT_EQ(Run().exitCode, 0);
  const std::string text = ReadFile(trace);
  for (const char* secret : {"tok3n", "hunter2", "s3cr3t"}) {
    EXPECT_EQ(text.find(secret), std::string::npos) << secret;
  }

  const auto summary = RunVelmar({"trace", "summary", trace});
  EXPECT_EQ(summary.exitCode, 0) << summary.err;
  EXPECT_NE(summary.out.find("requests: 4"), std::string::npos) << summary.out;
  EXPECT_NE(summary.out.find(" 200:2"), std::string::npos) << summary.out;
  EXPECT_NE(summary.out.find(script.string() + ":11: request failed"), std::string::npos);

  const auto curl = RunVelmar({"trace", "curl", trace, "2"});
  EXPECT_EQ(curl.exitCode, 0);
  EXPECT_EQ(curl.out.rfind("curl -X POST '" + server->url("/login") + "'", 0), 0u) << curl.out;
  EXPECT_NE(curl.out.find("--data-binary 'user=ann&password=[redacted] ("), std::string::npos)
      << curl.out;
  EXPECT_EQ(RunVelmar({"trace", "curl", trace, "9"}).exitCode, 1);

  const std::string har = (dir.path() / "t.har").string();
  ASSERT_EQ(RunVelmar({"trace", "har", trace, "-o", har}).exitCode, 0);
  const auto parsed = nlohmann::json::parse(ReadFile(har));
  ASSERT_EQ(parsed["log"]["entries"].size(), 4u);
  EXPECT_EQ(parsed["log"]["entries"][2]["response"]["redirectURL"], "/new");

  const fs::path tools = NodeTools();
  if (!fs::exists(tools / "node_modules" / "har-validator") ||
      !fs::exists(tools / "node_modules" / ".bin" / "har-to-k6")) {
    VELMAR_SKIP_WITHOUT("npm packages har-validator and har-to-k6 in " + tools.string());
  }
  const auto valid = RunProcess(
      {"/usr/bin/node", "-e",
       "const v=require(process.argv[1]+'/node_modules/har-validator');"
       "v.har(JSON.parse(require('fs').readFileSync(process.argv[2],'utf8')))"
       ".then(()=>console.log('valid')).catch(e=>{console.log(JSON.stringify(e.errors||e.message));"
       "process.exit(1)})",
       tools.string(), har});
  EXPECT_EQ(valid.exitCode, 0) << valid.out << valid.err;
  const std::string k6 = (dir.path() / "t.k6.js").string();
  const auto converted = RunProcess(
      {"/usr/bin/node", (tools / "node_modules" / ".bin" / "har-to-k6").string(), har, "-o", k6});
  EXPECT_EQ(converted.exitCode, 0) << converted.out << converted.err;
  EXPECT_NE(ReadFile(k6).find(server->url("/page?q=1")), std::string::npos);
}

TEST_F(TraceRunTest, BadTracePathsAndBadTraceFilesAreToldNotFatal) {
  // A folder as the trace: the run goes on and says once that it is not
  // recording.
  trace = dir.path().string();
  const auto run = Run();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.out.find("show: done"), std::string::npos);
  const std::string marker = "velmar run: not recording a trace";
  ASSERT_NE(run.err.find(marker), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find(marker), run.err.rfind(marker));

  const fs::path foreign = dir.Write("foreign.txt", "hello\n");
  for (const char* sub : {"har", "summary", "view"}) {
    const auto r = RunVelmar({"trace", sub, foreign.string()});
    EXPECT_EQ(r.exitCode, 1) << sub;
    EXPECT_NE(r.err.find("foreign.txt:1: not a velmar trace"), std::string::npos) << r.err;
  }
  // Cut off in the middle of a line, as a killed run leaves it: what was
  // read is still shown, the damage named by its line.
  const fs::path cut = dir.Write(
      "cut.trace",
      "{\"trace\":\"velmar\",\"version\":1,\"started\":\"2026-01-01T00:00:00.000Z\"}\n"
      "{\"ev\":\"http\",\"t\":5,\"n\":0,\"method\":\"GET\",\"url\":\"http://h/a\",\"status\":200}\n"
      "{\"ev\":\"http\",\"t\":9,\"n\":1,\"method\":\"GET\",\"url\":\"http://h/b");
  const auto r = RunVelmar({"trace", "summary", cut.string()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("requests: 1"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("cut.trace:3: the last line is cut short"), std::string::npos) << r.err;
  EXPECT_EQ(RunVelmar({"trace", "nonsense", cut.string()}).exitCode, 2);
}

// The viewer used as a person would, in headless Chromium: the page loads a
// trace of the run above from its own file, finds a request by a text in
// its body, opens it, filters the failed ones and shows a statement's
// matches and variables. Screenshots are left in the test's folder.
TEST_F(TraceRunTest, TheViewerShowsTheRunInABrowser) {
  ASSERT_EQ(Run().exitCode, 0);
  const std::string page = (dir.path() / "t.html").string();
  const auto view = RunVelmar({"trace", "view", trace, "-o", page});
  ASSERT_EQ(view.exitCode, 0) << view.err;
  const std::string html = ReadFile(page);
  EXPECT_EQ(html.find("http://"), html.find("http://127.0.0.1:"))
      << "the page names an address of its own";
  EXPECT_EQ(html.find("<script src"), std::string::npos);

  if (!fs::exists("/usr/bin/chromium") ||
      RunProcess({"/usr/bin/python3", "-c", "import websocket"}).exitCode != 0) {
    VELMAR_SKIP_WITHOUT("chromium and python3-websocket");
  }
  const fs::path shots = fs::path(VELMAR_TEST_BINARY_DIR) / "trace_view_shots";
  const auto check = RunProcess(
      {"/usr/bin/python3",
       (fs::path(VELMAR_SOURCE_DIR) / "tests" / "tooling" / "trace_view_check.py").string(), page,
       shots.string(), "price: 7"},
      {}, 180);
  ASSERT_EQ(check.exitCode, 0) << check.out << check.err;
  const auto shown = nlohmann::json::parse(check.out);
  EXPECT_EQ(shown["requests"], 4);
  EXPECT_EQ(shown["rows"], 13);
  // The text is in the bodies of the page and of the login answer.
  EXPECT_EQ(shown["found"], 2) << shown["count"];
  EXPECT_LT(shown["searchMs"].get<double>(), 1000.0);
  const std::string details = shown["details"];
  EXPECT_NE(details.find("GET " + server->url("/page?q=1")), std::string::npos) << details;
  EXPECT_NE(details.find("Authorization: [redacted]"), std::string::npos) << details;
  EXPECT_EQ(shown["frameSandbox"], "");  // scripts of the page stay off
  EXPECT_EQ(shown["failedOnly"],
            nlohmann::json::array({"#4 failed GET http://127.0.0.1:1/refused"}));
  EXPECT_EQ(shown["marks"], nlohmann::json::array({"42", "7"}));
  EXPECT_NE(shown["vars"].get<std::string>().find("base\t" + server->url("")), std::string::npos)
      << shown["vars"];
  EXPECT_EQ(shown["source"], "5  match price [#http_body]");
}

// JavaScript, a native call into the C library, the shared cookie store and
// the script's own cookie statements, each read back from the trace with its
// fields and the line that caused it.
TEST_F(TraceRunTest, EvaluationsNativeCallsAndTheSharedStoreAreRecorded) {
  script = dir.Write("Script/ext.vlm",
                     "loaddll c libc.so.6\n"
                     "var [#n] [~(int)c.abs<<<(int)-42]\n"
                     "js traced = 20 + 1\n"
                     "js traced * 2\n"
                     "js (1 +\n"
                     "var [#base] " +
                         server->url("") +
                         "\n"
                         "get [#base]/page\n"
                         "saveiecookies [#base]/\n"
                         "clearcookies\n"
                         "resumeiecookies [#base]/\n"
                         "js document_password = 'pw'; document_password\n"
                         "show n=[#n] status=[#status]\n"
                         "setcookies lang zh\n"
                         "delcookies lang\n"
                         "var [#long] [~c.getenv<<<VELMAR_TRACE_LONG]\n");
  // A library's long answer goes the way of long values.
  const std::string longText(2000, 'L');
  ::setenv("VELMAR_TRACE_LONG", longText.c_str(), 1);
  const auto run = Run();
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("n=42"), std::string::npos) << run.out;
  TraceFile file;
  std::string error;
  ASSERT_TRUE(ReadTraceFile(trace, file, error)) << error;
  EXPECT_TRUE(file.problems.empty());
  const std::string at = script.string() + ":";
  std::vector<const nlohmann::json*> js, native, cookies;
  for (const auto& event : file.events) {
    if (event["ev"] == "js") js.push_back(&event);
    if (event["ev"] == "native") native.push_back(&event);
    if (event["ev"] == "cookie") cookies.push_back(&event);
  }
  ASSERT_EQ(native.size(), 2u);
  EXPECT_EQ((*native[1])["at"], at + "15");
  EXPECT_EQ((*native[1])["function"], "getenv");
  EXPECT_EQ(file.TextOf(*native[1], "result"), longText);
  EXPECT_TRUE((*native[1])["result"].is_object());
  EXPECT_EQ((*native[0])["at"], at + "2");
  EXPECT_EQ((*native[0])["library"], "c");
  EXPECT_EQ((*native[0])["function"], "abs");
  EXPECT_EQ((*native[0])["args"], nlohmann::json::array({"(int)-42"}));
  EXPECT_EQ((*native[0])["result"], "42");

  ASSERT_EQ(js.size(), 4u);
  EXPECT_EQ((*js[0])["at"], at + "3");
  EXPECT_EQ(file.TextOf(*js[0], "source"), "traced = 20 + 1");
  EXPECT_EQ(file.TextOf(*js[0], "result"), "21");
  EXPECT_GT((*js[0])["ns"].get<int64_t>(), 0);
  EXPECT_EQ((*js[1])["at"], at + "4");
  EXPECT_EQ(file.TextOf(*js[1], "result"), "42");
  EXPECT_EQ((*js[2])["at"], at + "5");
  EXPECT_TRUE((*js[2])["failed"].get<bool>());
  EXPECT_FALSE(js[2]->contains("result"));
  EXPECT_NE(file.TextOf(*js[2], "error").find("Error: "), std::string::npos);
  // A value read from something named like a password stays out.
  EXPECT_EQ(file.TextOf(*js[3], "result").rfind("[redacted] (2 bytes)", 0), 0u);

  // The response's cookie in the jar, stored in the shared store, dropped
  // from the jar and taken back into it from the store; then one the script
  // sets and deletes itself.
  struct Change {
    std::string store, at, domain, name, value;
  };
  const std::vector<Change> expected = {
      {"script", at + "7", "127.0.0.1", "sid", "[redacted] (6 bytes)"},
      {"shared", at + "8", "127.0.0.1", "sid", "[redacted] (6 bytes)"},
      {"script", at + "9", "", "sid", ""},
      {"script", at + "10", "127.0.0.1", "sid", "[redacted] (6 bytes)"},
      {"script", at + "13", "", "lang", "[redacted] (2 bytes)"},
      {"script", at + "14", "", "lang", ""}};
  ASSERT_EQ(cookies.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ((*cookies[i])["store"], expected[i].store) << i;
    EXPECT_EQ((*cookies[i])["at"], expected[i].at) << i;
    EXPECT_EQ((*cookies[i])["domain"], expected[i].domain) << i;
    EXPECT_EQ((*cookies[i])["name"], expected[i].name) << i;
    EXPECT_EQ(file.TextOf(*cookies[i], "value"), expected[i].value) << i;
    EXPECT_EQ(cookies[i]->value("removed", false), expected[i].value.empty()) << i;
  }
  EXPECT_NE(ReadFile(dir.path() / "cookies.txt").find("s3cr3t"), std::string::npos);

  const auto summary = RunVelmar({"trace", "summary", trace});
  EXPECT_NE(summary.out.find("javascript: 4 (1 failed), native calls: 2, cookie changes: 6 (1 in "
                             "the shared store)"),
            std::string::npos)
      << summary.out;
  EXPECT_NE(summary.out.find(at + "5: javascript failed: Error: "), std::string::npos)
      << summary.out;
}

// The packed runner records each script of its boot file in a file of its
// own, and refuses --trace where it would open windows.
TEST(VlmpackTrace, EachScriptOfTheBootFileHasItsOwnTrace) {
  TempDir home;
  home.Write("Script/a.vlm", "show a\n");
  home.Write("Script/b.vlm", "show b\nget http://127.0.0.1:1/\n");
  home.Write("Velmar.boot", "one^a.vlm^\ntwo^b.vlm^\n");
  const std::string vlmpack = (fs::path(VELMAR_CLI_PATH).parent_path() / "vlmpack").string();
  const fs::path traces = home.path() / "traces";
  const auto run = RunProcess(
      {vlmpack, "--headless", "--home", home.path().string(), "--trace", traces.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  struct stat st;
  ASSERT_EQ(::stat(traces.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(traces)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names, (std::vector<std::string>{"a-1.trace", "b-2.trace"}));
  TraceFile b;
  std::string error;
  ASSERT_TRUE(ReadTraceFile((traces / "b-2.trace").string(), b, error)) << error;
  ASSERT_EQ(b.Exchanges().size(), 1u);
  EXPECT_EQ((*b.Exchanges()[0])["at"], (home.path() / "Script" / "b.vlm").string() + ":2");
  // Only one script's events in each file.
  EXPECT_EQ(ReadFile(traces / "a-1.trace").find("b.vlm"), std::string::npos);
  EXPECT_EQ(
      RunProcess({vlmpack, "--home", home.path().string(), "--trace", traces.string()}).exitCode,
      2);
}

// Through the packed runner's trace folder a hot statement is counted after
// its first runs, as under `velmar run`: a long loop must not write a line a
// turn.
TEST(VlmpackTrace, AHotLoopIsCountedNotWrittenATurnAtATime) {
  TempDir home;
  home.Write("Script/loop.vlm", "var [#n] 0\nwhile ([#n]<3000)\n{\nvar [#n] ([#n]+1)\n}\n");
  home.Write("Velmar.boot", "loop^loop.vlm^\n");
  const std::string vlmpack = (fs::path(VELMAR_CLI_PATH).parent_path() / "vlmpack").string();
  const fs::path traces = home.path() / "traces";
  const auto run = RunProcess(
      {vlmpack, "--headless", "--home", home.path().string(), "--trace", traces.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  TraceFile trace;
  std::string error;
  ASSERT_TRUE(ReadTraceFile((traces / "loop-1.trace").string(), trace, error)) << error;
  std::size_t full = 0;
  int64_t counted = 0;
  for (const auto& event : trace.events) {
    if (event["ev"] == "stmt") ++full;
    if (event["ev"] == "runs") counted += event["count"].get<int64_t>();
  }
  EXPECT_GT(counted, 0);
  EXPECT_LT(full, 3000u);
}

}  // namespace
}  // namespace velmar
