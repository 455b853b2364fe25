// The language server as an editor feels it, over pipes with the server's
// own threads: a change to a 10,000-line script until its diagnostics arrive
// (the debounce wait included), and a completion request until its answer.
// Goals: diagnostics within 100 ms of a change (median), completion within
// 20 ms.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "tooling/language_server.h"
#include "tooling/message_frames.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

constexpr int kLines = 10000;

std::string ScriptText(int variant) {
  static const char* const kSection[] = {
      "var [#n] 0", "while ([#n] < 3)", "{", "  var [#n] ([#n] + 1)", "  if ([#n] == 2)", "  {",
      "    show two [@left<<<[#item]<<<3]", "  }", "  else", "  {", "    show other", "  }", "}",
      "regex cell <td>{[^<]*}</td>", "match cell [#http_body]", "switch [#mode]", "{", "case fast",
      "  show fast [$cell.count]", "}"};
  std::string text = "<main>\n";
  int lines = 1;
  for (int section = 0; lines < kLines - 2; ++section) {
    text += "<s" + std::to_string(section) + ">\n";
    ++lines;
    for (const char* line : kSection) {
      text += line;
      text += '\n';
      ++lines;
    }
    text += "call <s" + std::to_string(section) + ">\n";
    ++lines;
  }
  text += "show variant " + std::to_string(variant) + "\nexit\n";
  return text;
}

class LspFixture : public benchmark::Fixture {
 public:
  void SetUp(const benchmark::State&) override {
    if (server_.joinable()) return;
    std::string tmpl = (fs::temp_directory_path() / "velmar-bench-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) return;
    path_ = fs::path(tmpl) / "Script" / "big.vlm";
    fs::create_directories(path_.parent_path());
    std::ofstream(path_) << ScriptText(0);
    uri_ = "file://" + path_.string();
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    toServer_ = in[1];
    fromServer_ = out[0];
    server_ = std::thread([in, out] {
      velmar::LanguageServerOptions options;
      velmar::RunLanguageServer(in[0], out[1], options);
      close(in[0]);
      close(out[1]);
    });
    writer_ = std::make_unique<velmar::FrameWriter>(toServer_);
    reader_ = std::make_unique<velmar::FrameReader>(fromServer_, 64u << 20);
    Request("initialize", json::object());
    Send({{"jsonrpc", "2.0"}, {"method", "initialized"}, {"params", json::object()}});
    Send({{"jsonrpc", "2.0"},
          {"method", "textDocument/didOpen"},
          {"params", {{"textDocument", {{"uri", uri_}, {"languageId", "velmar"}, {"version", 1}, {"text", ScriptText(0)}}}}}});
    WaitFor("textDocument/publishDiagnostics");
  }

  ~LspFixture() override {
    // The input closed ends the server.
    if (toServer_ >= 0) close(toServer_);
    if (server_.joinable()) server_.join();
    if (fromServer_ >= 0) close(fromServer_);
  }

  void Send(const json& m) { writer_->Send(m.dump()); }
  json WaitFor(const std::string& method, int id = 0) {
    for (;;) {
      velmar::MessageFrame f = reader_->Next();
      if (f.kind != velmar::MessageFrame::Kind::kMessage) return nullptr;
      json m = json::parse(f.body);
      if (!method.empty() && m.value("method", "") == method) return m;
      if (method.empty() && m.contains("id") && m["id"] == id) return m;
    }
  }
  json Request(const std::string& method, json params) {
    const int id = ++next_;
    Send({{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}});
    return WaitFor("", id);
  }

  fs::path path_;
  std::string uri_;
  int toServer_ = -1, fromServer_ = -1;
  std::thread server_;
  std::unique_ptr<velmar::FrameWriter> writer_;
  std::unique_ptr<velmar::FrameReader> reader_;
  int next_ = 0;
  int version_ = 1;
};

BENCHMARK_DEFINE_F(LspFixture, DiagnosticsAfterChange)(benchmark::State& state) {
  for (auto _ : state) {
    ++version_;
    Send({{"jsonrpc", "2.0"},
          {"method", "textDocument/didChange"},
          {"params", {{"textDocument", {{"uri", uri_}, {"version", version_}}},
                      {"contentChanges", json::array({{{"text", ScriptText(version_)}}})}}}});
    benchmark::DoNotOptimize(WaitFor("textDocument/publishDiagnostics"));
  }
}
BENCHMARK_REGISTER_F(LspFixture, DiagnosticsAfterChange)
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10)->Repetitions(5)->ReportAggregatesOnly(true);

BENCHMARK_DEFINE_F(LspFixture, Completion)(benchmark::State& state) {
  for (auto _ : state) {
    // After `[#` in the middle of the script: the variables of 10,000 lines.
    benchmark::DoNotOptimize(Request("textDocument/completion",
                                     {{"textDocument", {{"uri", uri_}}}, {"position", {{"line", 5005}, {"character", 16}}}}));
  }
}
BENCHMARK_REGISTER_F(LspFixture, Completion)
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(50)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
