// The language server in process: the framing of messages (bad headers,
// oversized bodies, an input that ends mid-message), the protocol's
// lifecycle and errors, debounced diagnostics for a file and its includers,
// code page 936 and UTF-16 positions, and the answers editors ask for.

#include "tooling/language_server.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"
#include "tooling/message_frames.h"
#include "values/code_page.h"

namespace velmar {
namespace {

using json = nlohmann::json;
using testing::ReadFile;
using testing::TempDir;
using Clock = LanguageServer::Clock;

std::string Frame(const std::string& body) {
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Feeds `bytes` into a pipe from a thread and reads the frames back.
std::vector<MessageFrame> ReadFrames(const std::string& bytes, std::size_t maxBody) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  std::thread feeder([&] {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(fds[1], bytes.data() + done, std::min<std::size_t>(bytes.size() - done, 1 << 16));
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    close(fds[1]);
  });
  std::vector<MessageFrame> frames;
  FrameReader reader(fds[0], maxBody);
  for (;;) {
    frames.push_back(reader.Next());
    if (frames.back().kind == MessageFrame::Kind::kEnd) break;
  }
  feeder.join();
  close(fds[0]);
  return frames;
}

TEST(MessageFramesTest, BadAndOversizedMessagesAreSkippedAndReadingGoesOn) {
  const std::string big(3 << 20, 'x');
  const std::string bytes = Frame("{\"a\":1}") + "Content-Type: text\r\n\r\n" + Frame(big) +
                            "content-length:  2 \r\n\r\n{}" + "Content-Length: 12\r\n\r\n{\"cut\"";
  const std::vector<MessageFrame> frames = ReadFrames(bytes, 1 << 20);
  ASSERT_EQ(frames.size(), 5u);
  EXPECT_EQ(frames[0].kind, MessageFrame::Kind::kMessage);
  EXPECT_EQ(frames[0].body, "{\"a\":1}");
  EXPECT_EQ(frames[1].kind, MessageFrame::Kind::kBadHeader);
  EXPECT_EQ(frames[2].kind, MessageFrame::Kind::kTooLarge);
  EXPECT_EQ(frames[2].size, big.size());
  EXPECT_TRUE(frames[2].body.empty());
  EXPECT_EQ(frames[3].kind, MessageFrame::Kind::kMessage);
  EXPECT_EQ(frames[3].body, "{}");
  // The input closed in the middle of the last body.
  EXPECT_EQ(frames[4].kind, MessageFrame::Kind::kEnd);
}

TEST(MessageFramesTest, EndlessHeaderDoesNotGrowWithoutBound) {
  std::string bytes(1 << 20, 'h');
  bytes += "\r\n\r\n" + Frame("{}");
  const std::vector<MessageFrame> frames = ReadFrames(bytes, 1 << 20);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].kind, MessageFrame::Kind::kBadHeader);
  EXPECT_EQ(frames[1].body, "{}");
}

// Drives a server directly with messages and a clock of its own.
class Session {
 public:
  explicit Session(LanguageServerOptions options = {}) {
    if (!options.manual) {
      options.manual = [](std::string_view anchor) -> std::string {
        if (anchor == "fn-split") return "### `[@split]`\n\n`[@split<<<TEXT<<<SEPARATOR]` cuts TEXT. More.\n";
        if (anchor == "stmt-get") return "### `get`\n\n`get URL` fetches URL. Afterwards more.\n";
        return {};
      };
    }
    server_ = std::make_unique<LanguageServer>(std::move(options),
                                               [this](const std::string& m) { out_.push_back(json::parse(m)); });
  }

  void Raw(const std::string& body) { Deliver(body); }
  void Send(const json& message) { Deliver(message.dump()); }
  json Request(const std::string& method, json params) {
    const int id = ++next_;
    Send({{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}});
    for (const json& m : out_) {
      if (m.contains("id") && m["id"] == id) return m;
    }
    return nullptr;
  }
  void Notify(const std::string& method, json params) {
    Send({{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}});
  }
  void Start() {
    ASSERT_TRUE(Request("initialize", json::object()).contains("result"));
    Notify("initialized", json::object());
  }
  void Open(const std::string& uri, const std::string& text) {
    Notify("textDocument/didOpen",
           {{"textDocument", {{"uri", uri}, {"languageId", "velmar"}, {"version", 1}, {"text", text}}}});
  }
  void Change(const std::string& uri, int version, const std::string& text) {
    Notify("textDocument/didChange", {{"textDocument", {{"uri", uri}, {"version", version}}},
                                      {"contentChanges", json::array({{{"text", text}}})}});
  }
  // Requests at a line and UTF-16 column.
  json At(const std::string& method, const std::string& uri, int line, int character) {
    return Request(method, {{"textDocument", {{"uri", uri}}}, {"position", {{"line", line}, {"character", character}}}});
  }
  // The diagnostics published since the last call, oldest first.
  std::vector<json> Published() {
    std::vector<json> found;
    for (const json& m : out_) {
      if (m.value("method", "") == "textDocument/publishDiagnostics") found.push_back(m["params"]);
    }
    out_.erase(std::remove_if(out_.begin(), out_.end(),
                              [](const json& m) { return m.value("method", "") == "textDocument/publishDiagnostics"; }),
               out_.end());
    return found;
  }
  void Advance(std::chrono::milliseconds by) {
    now_ += by;
    server_->Tick(now_);
  }
  const std::vector<json>& out() const { return out_; }
  LanguageServer& server() { return *server_; }

 private:
  void Deliver(const std::string& body) {
    MessageFrame frame;
    frame.kind = MessageFrame::Kind::kMessage;
    frame.body = body;
    server_->Receive(frame, now_);
  }

  std::unique_ptr<LanguageServer> server_;
  std::vector<json> out_;
  int next_ = 0;
  Clock::time_point now_ = Clock::now();
};

std::string UriOf(const std::filesystem::path& path) {
  return "file://" + path.string();
}

TEST(LanguageServerTest, ProtocolErrorsAreAnsweredAndTheServerGoesOn) {
  Session s;
  EXPECT_EQ(s.Request("textDocument/hover", json::object())["error"]["code"], -32002);
  s.Start();
  s.Raw("{\"jsonrpc\":\"2.0\",\"id\":");
  EXPECT_EQ(s.out().back()["error"]["code"], -32700);
  EXPECT_TRUE(s.out().back()["id"].is_null());
  s.Raw("[1,2]");
  EXPECT_EQ(s.out().back()["error"]["code"], -32600);
  EXPECT_EQ(s.Request("workspace/nothing", json::object())["error"]["code"], -32601);
  // A request about a file that does not exist, and one without a position.
  const json missing = s.At("textDocument/hover", "file:///no/such/dir/x.vlm", 0, 0);
  EXPECT_EQ(missing["error"]["code"], -32602);
  EXPECT_NE(missing["error"]["message"].get<std::string>().find("x.vlm"), std::string::npos);
  EXPECT_EQ(s.Request("textDocument/hover", {{"textDocument", {{"uri", "file:///x"}}}, {"position", "here"}})["error"]["code"],
            -32602);
  // Fields of the wrong type in a notification are dropped, not fatal.
  s.Notify("textDocument/didOpen", {{"textDocument", {{"uri", 7}}}});
  MessageFrame tooLarge;
  tooLarge.kind = MessageFrame::Kind::kTooLarge;
  tooLarge.size = 100u << 20;
  s.server().Receive(tooLarge);
  EXPECT_EQ(s.out().back()["error"]["code"], -32600);
  EXPECT_NE(s.out().back()["error"]["message"].get<std::string>().find("104857600"), std::string::npos);
  EXPECT_FALSE(s.server().exited());
  EXPECT_TRUE(s.Request("shutdown", nullptr)["result"].is_null());
  EXPECT_EQ(s.Request("textDocument/hover", json::object())["error"]["code"], -32600);
  s.Notify("exit", nullptr);
  EXPECT_TRUE(s.server().exited());
  EXPECT_EQ(s.server().exitCode(), 0);
}

TEST(LanguageServerTest, InputClosedWithoutShutdownEndsWithFailure) {
  Session s;
  s.Start();
  s.server().Receive(MessageFrame{});
  EXPECT_TRUE(s.server().exited());
  EXPECT_EQ(s.server().exitCode(), 1);
}

TEST(LanguageServerTest, DiagnosticsWaitForTypingToStopAndReachIncluders) {
  TempDir home;
  const auto util = home.Write("Script/lib/util.vlm", "<helper>\nreturn\n");
  const auto main = home.Write("Script/main.vlm", "using lib.util\n<main>\ncall <helper>\nexit\n");
  Session s;
  s.Start();
  s.Open(UriOf(main), ReadFile(main));
  s.Open(UriOf(util), ReadFile(util));
  std::vector<json> first = s.Published();
  ASSERT_EQ(first.size(), 2u);  // a file opened is checked at once
  EXPECT_TRUE(first[0]["diagnostics"].empty());

  s.Change(UriOf(main), 2, "using lib.util\n<main>\ncall <helpr>\n");
  s.Change(UriOf(main), 3, "using lib.util\n<main>\ncall <helpr>\nexit\n");
  s.Advance(std::chrono::milliseconds(10));
  EXPECT_TRUE(s.Published().empty());
  s.Advance(std::chrono::milliseconds(100));
  std::vector<json> typed = s.Published();
  ASSERT_EQ(typed.size(), 1u);  // two changes, one check
  EXPECT_EQ(typed[0]["version"], 3);
  ASSERT_EQ(typed[0]["diagnostics"].size(), 1u);
  const json& d = typed[0]["diagnostics"][0];
  EXPECT_EQ(d["range"]["start"]["line"], 2);
  EXPECT_EQ(d["severity"], 1);
  EXPECT_NE(d["message"].get<std::string>().find("<helpr>"), std::string::npos);

  // The include renames its label and is saved: the includer is checked again.
  s.Change(UriOf(main), 4, "using lib.util\n<main>\ncall <helper>\nexit\n");
  s.Advance(std::chrono::milliseconds(100));
  s.Published();
  home.Write("Script/lib/util.vlm", "<helper2>\nreturn\n");
  s.Change(UriOf(util), 2, "<helper2>\nreturn\n");
  s.Notify("textDocument/didSave", {{"textDocument", {{"uri", UriOf(util)}}}});
  s.Advance(std::chrono::milliseconds(100));
  bool mainFlagged = false;
  for (const json& p : s.Published()) {
    if (p["uri"] == UriOf(main)) mainFlagged = !p["diagnostics"].empty();
  }
  EXPECT_TRUE(mainFlagged);

  s.Notify("textDocument/didClose", {{"textDocument", {{"uri", UriOf(main)}}}});
  const std::vector<json> closed = s.Published();
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_TRUE(closed[0]["diagnostics"].empty());
}

TEST(LanguageServerTest, PositionsAreUtf16AndCodePage936TextsAreReadAsARunReadsThem) {
  TempDir home;
  home.Write("Config.ini", "[set]\ncodepage=936\n");
  // On disk in code page 936; the editor sends the same text as UTF-8.
  const std::string utf8 = "<main>\nvar [#名字] 值\nshow 中文 [#名字]\ngoto <没有>\n";
  const auto path = home.Write("Script/gbk.vlm", CodePage::Get(CodePage::kGbk).FromUtf8(utf8));
  LanguageServerOptions options;
  options.codePage = CodePage::kGbk;
  Session s(options);
  s.Start();
  s.Open(UriOf(path), utf8);
  const std::vector<json> published = s.Published();
  ASSERT_EQ(published.size(), 1u);
  bool gotoFound = false;
  for (const json& d : published[0]["diagnostics"]) {
    const std::string message = d["message"];
    if (message.find("<没有>") == std::string::npos) continue;
    gotoFound = true;
    EXPECT_EQ(d["range"]["start"]["line"], 3);
  }
  EXPECT_TRUE(gotoFound);
  // "show 中文 [#" is 10 UTF-16 units: the variable starts at 10.
  const json hover = s.At("textDocument/hover", UriOf(path), 2, 11);
  ASSERT_TRUE(hover["result"].is_object()) << hover.dump();
  EXPECT_NE(hover["result"]["contents"]["value"].get<std::string>().find("[#名字]"), std::string::npos);
  EXPECT_NE(hover["result"]["contents"]["value"].get<std::string>().find("gbk.vlm:2"), std::string::npos);
  const json refs = s.At("textDocument/references", UriOf(path), 2, 11);
  ASSERT_EQ(refs["result"].size(), 2u);
  EXPECT_EQ(refs["result"][1]["range"]["start"]["character"], 10);
  EXPECT_EQ(refs["result"][1]["range"]["end"]["character"], 12);
  // A closed file is read from disk in its code page.
  const json symbols = s.Request("textDocument/documentSymbol", {{"textDocument", {{"uri", UriOf(path)}}}});
  ASSERT_EQ(symbols["result"].size(), 1u);
}

TEST(LanguageServerTest, CharactersOutsideTheBasicPlaneCountTwoUnits) {
  TempDir home;
  const auto path = home.Write("Script/a.vlm", "");
  Session s;
  s.Start();
  s.Open(UriOf(path), "<main>\nshow 😀😀 [#x] [@len<<<a]\nvar [#x] 1\n");
  // "show 😀😀 [#" is 12 units.
  const json refs = s.At("textDocument/references", UriOf(path), 1, 12);
  ASSERT_EQ(refs["result"].size(), 2u);
  EXPECT_EQ(refs["result"][0]["range"]["start"]["character"], 12);
  EXPECT_EQ(refs["result"][0]["range"]["end"]["character"], 13);
}

TEST(LanguageServerTest, CompletionOffersWhatFitsWhereTheCursorIs) {
  TempDir home;
  home.Write("Script/lib/util.vlm", "<helper>\nvar [#shared] 1\nregex digits {[0-9]+}\nreturn\n");
  const auto path = home.Write("Script/main.vlm", "");
  Session s;
  s.Start();
  s.Open(UriOf(path), "using lib.util\n<main>\nvar [#count] 1\nshow [@sp [# [$\ngoto \nge\n<on_win_click>\n");
  auto labels = [](const json& reply) {
    std::vector<std::string> out;
    for (const json& item : reply["result"]["items"]) out.push_back(item["label"]);
    return out;
  };
  auto has = [](const std::vector<std::string>& v, const std::string& x) {
    return std::find(v.begin(), v.end(), x) != v.end();
  };
  const json builtins = s.At("textDocument/completion", UriOf(path), 3, 9);
  ASSERT_TRUE(has(labels(builtins), "split"));
  for (const json& item : builtins["result"]["items"]) {
    if (item["label"] != "split") continue;
    EXPECT_EQ(item["detail"], "[@split<<<TEXT<<<SEPARATOR]");
    EXPECT_EQ(item["textEdit"]["range"]["start"]["character"], 7);
    EXPECT_EQ(item["textEdit"]["range"]["end"]["character"], 9);
  }
  const std::vector<std::string> variables = labels(s.At("textDocument/completion", UriOf(path), 3, 12));
  EXPECT_TRUE(has(variables, "count"));
  EXPECT_TRUE(has(variables, "shared"));  // from the include
  EXPECT_FALSE(has(variables, "split"));
  EXPECT_TRUE(has(labels(s.At("textDocument/completion", UriOf(path), 3, 15)), "digits"));
  const std::vector<std::string> targets = labels(s.At("textDocument/completion", UriOf(path), 4, 5));
  EXPECT_TRUE(has(targets, "<helper>"));
  EXPECT_TRUE(has(targets, "<main>"));
  EXPECT_FALSE(has(targets, "<on_win_click>"));
  const json keywords = s.At("textDocument/completion", UriOf(path), 5, 2);
  EXPECT_TRUE(has(labels(keywords), "get"));
  EXPECT_TRUE(has(labels(keywords), "<on_win_click>"));
  for (const json& item : keywords["result"]["items"]) {
    if (item["label"] == "get") EXPECT_EQ(item["detail"], "`get URL` fetches URL.");
  }
}

TEST(LanguageServerTest, HoverDefinitionReferencesAndOutlineFollowIncludes) {
  TempDir home;
  const auto util = home.Write("Script/lib/util.vlm", "<helper>\nregex digits {[0-9]+}\nreturn\n");
  const auto path = home.Write("Script/main.vlm", "");
  Session s;
  s.Start();
  s.Open(UriOf(path),
         "using lib.util\n<main>\nget http://127.0.0.1/\ncall <helper>\nmatch digits [#http_body]\n"
         "show [$digits.count] [@split<<<a<<<b]\nexit\n<helper>\nreturn\n");
  // The manual's entry for a keyword and a built-in.
  EXPECT_NE(s.At("textDocument/hover", UriOf(path), 2, 1)["result"]["contents"]["value"].get<std::string>().find(
                "fetches URL"),
            std::string::npos);
  EXPECT_NE(s.At("textDocument/hover", UriOf(path), 5, 24)["result"]["contents"]["value"].get<std::string>().find(
                "cuts TEXT"),
            std::string::npos);
  // `<helper>` is defined twice: the later line, the one that counts.
  const json def = s.At("textDocument/definition", UriOf(path), 3, 7);
  ASSERT_EQ(def["result"].size(), 1u);
  EXPECT_EQ(def["result"][0]["uri"], UriOf(path));
  EXPECT_EQ(def["result"][0]["range"]["start"]["line"], 7);
  const json expression = s.At("textDocument/definition", UriOf(path), 4, 8);
  ASSERT_EQ(expression["result"].size(), 1u);
  EXPECT_EQ(expression["result"][0]["uri"], UriOf(util));
  EXPECT_EQ(expression["result"][0]["range"]["start"]["line"], 1);
  const json file = s.At("textDocument/definition", UriOf(path), 0, 8);
  ASSERT_EQ(file["result"].size(), 1u);
  EXPECT_EQ(file["result"][0]["uri"], UriOf(util));
  // References of the expression: its definition, the match and the use.
  EXPECT_EQ(s.At("textDocument/references", UriOf(path), 5, 8)["result"].size(), 3u);
  const json outline = s.Request("textDocument/documentSymbol", {{"textDocument", {{"uri", UriOf(path)}}}});
  ASSERT_EQ(outline["result"].size(), 2u);
  EXPECT_EQ(outline["result"][0]["name"], "<main>");
  EXPECT_EQ(outline["result"][0]["range"]["end"]["line"], 6);
  EXPECT_EQ(outline["result"][1]["name"], "<helper>");
  // Nothing under the cursor: a null answer, not an error.
  EXPECT_TRUE(s.At("textDocument/definition", UriOf(path), 6, 1)["result"].is_null());
}

}  // namespace
}  // namespace velmar

namespace velmar {
namespace {

// The command itself on bad input: a message that is no JSON, one of 100 MB
// and an input that closes in the middle of a message each get their answer
// or end the server, which never crashes and keeps serving in between.
TEST(LspCommandTest, BadInputGetsProtocolErrorsAndClosedInputEndsTheServer) {
  const std::string initialize = R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{}})";
  std::string input = Frame("{not json") + "Content-Length: 104857600\r\n\r\n";
  input.append(100u << 20, ' ');
  input += Frame(initialize) + "Content-Length: 50\r\n\r\n{\"jsonrpc\"";
  const testing::ProcessResult run = testing::RunVelmar({"lsp"}, input, 120);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 1) << run.err;  // the client left without shutdown
  EXPECT_NE(run.out.find("-32700"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("message of 104857600 bytes dropped"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"capabilities\""), std::string::npos) << run.out;
  EXPECT_LT(run.out.size(), 4096u);

  const testing::ProcessResult usage = testing::RunVelmar({"lsp", "--codepage", "1252"});
  EXPECT_EQ(usage.exitCode, 2);
  EXPECT_NE(usage.err.find("unknown code page"), std::string::npos);
}

}  // namespace
}  // namespace velmar

namespace velmar {
namespace {

// The debug adapter on bad input and on requests that need a script: every
// one gets a failed response with a reason, and the closed input ends it.
TEST(DebugCommandTest, BadInputAndEarlyRequestsFailCleanly) {
  auto request = [](int seq, const std::string& command, const std::string& args = "{}") {
    return Frame("{\"seq\":" + std::to_string(seq) + ",\"type\":\"request\",\"command\":\"" + command +
                 "\",\"arguments\":" + args + "}");
  };
  std::string input = Frame("{oops") + Frame("{\"type\":\"event\"}") + "Content-Length: 104857600\r\n\r\n";
  input.append(100u << 20, 'x');
  input += request(1, "initialize") + request(2, "stackTrace") + request(3, "continue") +
           request(4, "launch", "{\"program\":\"/no/such/script.vlm\"}") + request(5, "launch", "{}") +
           "Content-Length: 90\r\n\r\n{\"seq\":6";
  const testing::ProcessResult run = testing::RunVelmar({"debug"}, input, 120);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.out.find("the message is no valid JSON"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("the message is no request"), std::string::npos);
  EXPECT_NE(run.out.find("message of 104857600 bytes dropped"), std::string::npos);
  EXPECT_NE(run.out.find("supportsConditionalBreakpoints"), std::string::npos);
  EXPECT_NE(run.out.find("no script: launch one first"), std::string::npos);
  EXPECT_NE(run.out.find("the script is not paused"), std::string::npos);
  EXPECT_NE(run.out.find("cannot read script: /no/such/script.vlm"), std::string::npos);
  EXPECT_NE(run.out.find("launch needs \\\"program\\\""), std::string::npos) << run.out;
}

}  // namespace
}  // namespace velmar
