// What recording costs, measured side by side in one run (the rounds
// alternate, the counters are medians): the 1,000,000-turn `while` loop and
// sequential gets of a 10 KB page from a local nginx, each without and with
// a trace, with the trace's bytes per loop turn and per request; and the
// time to make the viewer page of a trace of 10,000 requests and 1,000,000
// statements (the page is left in the build folder for a browser).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "engine/executor.h"
#include "engine/script_context.h"
#include "engine/script_program.h"
#include "platform/stop_signal.h"
#include "support/test_support.h"
#include "test_servers.h"
#include "tooling/trace_reader.h"
#include "tooling/trace_view.h"
#include "tooling/trace_writer.h"
#include "values/variable_table.h"

namespace {

namespace fs = std::filesystem;
using velmar::testing::NginxServer;
using velmar::testing::TempDir;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Seconds to run the program once, traced into `tracePath` when not empty;
// the trace's size in `bytes`.
double RunOnce(const velmar::EngineEnvironment& env, const velmar::ScriptProgram& program,
               const std::string& tracePath, uintmax_t& bytes) {
  std::optional<velmar::TraceWriter> writer;
  velmar::ScriptContext ctx(env);
  if (!tracePath.empty()) {
    velmar::TraceOptions options;
    options.path = tracePath;
    writer.emplace(options);
    std::string reason;
    if (!writer->Open(reason)) return -1;
    ctx.observer = &*writer;
  }
  ctx.program = &program;
  ctx.lastIndex = program.lastIndex();
  ctx.executionStack.push_back(0);
  const auto start = std::chrono::steady_clock::now();
  velmar::runScript(ctx);
  if (writer) writer->Flush();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::error_code ec;
  bytes = tracePath.empty() ? 0 : fs::file_size(tracePath, ec);
  return seconds;
}

void Compare(benchmark::State& state, const velmar::EngineEnvironment& env,
             const velmar::ScriptProgram& program, double units, const char* unitName) {
  TempDir dir;
  const std::string path = (dir.path() / "bench.trace").string();
  std::vector<double> plain, traced, ratio;
  uintmax_t bytes = 0;
  for (auto _ : state) {
    uintmax_t none = 0;
    const bool plainFirst = plain.size() % 2 == 0;
    double p = plainFirst ? RunOnce(env, program, {}, none) : 0;
    const double t = RunOnce(env, program, path, bytes);
    if (!plainFirst) p = RunOnce(env, program, {}, none);
    plain.push_back(p);
    traced.push_back(t);
    ratio.push_back(t / p);
  }
  state.counters["untraced_s"] = Median(plain);
  state.counters["traced_s"] = Median(traced);
  state.counters["traced_over_untraced_time"] = Median(ratio);
  state.counters[std::string("trace_bytes_per_") + unitName] = static_cast<double>(bytes) / units;
}

void BM_LoopTracedAndNot(benchmark::State& state) {
  constexpr int kTurns = 1000000;
  velmar::EngineEnvironment env;
  const velmar::ScriptProgram program =
      velmar::parseScript("var [#n] 0\r\nwhile ([#n]<" + std::to_string(kTurns) +
                              ")\r\n{\r\nvar [#n] ([#n]+1)\r\n}\r\n",
                          env, "loop.vlm");
  Compare(state, env, program, kTurns, "turn");
}
BENCHMARK(BM_LoopTracedAndNot)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// Argument 0: the same 10 KB page every time; 1: a page of its own per
// request (as many files), so no body repeats an earlier one.
void BM_SequentialGetsTracedAndNot(benchmark::State& state) {
  constexpr int kRequests = 2000;
  const bool distinct = state.range(0) != 0;
  TempDir home;
  NginxServer nginx(home.path() / "nginx");
  if (!nginx.ok()) {
    state.SkipWithError("nginx did not start");
    return;
  }
  const std::string page(10 * 1024, 'x');
  std::ofstream(nginx.root() / "ten.html") << page;
  for (int i = 0; distinct && i < kRequests; ++i) {
    std::ofstream(nginx.root() / ("ten" + std::to_string(i) + ".html"))
        << std::to_string(i) << page.substr(std::to_string(i).size());
  }
  const std::string url = "http://127.0.0.1:" + std::to_string(nginx.httpPort()) +
                          (distinct ? "/ten[#n].html" : "/ten.html");
  velmar::EngineEnvironment env = velmar::EngineEnvironment::ForHome(home.path());
  const velmar::ScriptProgram program =
      velmar::parseScript("var [#n] 0\r\nwhile ([#n]<" + std::to_string(kRequests) +
                              ")\r\n{\r\nget " + url + "\r\nvar [#n] ([#n]+1)\r\n}\r\n",
                          env, "gets.vlm");
  Compare(state, env, program, kRequests, "request");
}
// More rounds than the loop: on a machine others share, a round of network
// waits varies more than a round of pure computation.
BENCHMARK(BM_SequentialGetsTracedAndNot)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(11)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The writer's own share of a traced request: one exchange with a 10 KB
// body of HTML and the flush of its statement, no network. Argument 0: the
// same body every time; 1: a body that differs from the last ones.
void BM_WriterOneExchange(benchmark::State& state) {
  TempDir dir;
  velmar::TraceOptions options;
  options.path = (dir.path() / "one.trace").string();
  velmar::TraceWriter writer(options);
  std::string reason;
  if (!writer.Open(reason)) {
    state.SkipWithError(reason.c_str());
    return;
  }
  velmar::StopSignal stop;
  velmar::VariableTable vars;
  std::string body;
  for (int i = 0; body.size() < static_cast<std::size_t>(state.range(0)); ++i) {
    body += "<tr><td class=\"n\">" + std::to_string(i) + "</td><td>item\tname</td></tr>\n";
  }
  body.resize(static_cast<std::size_t>(state.range(0)));
  const std::string request = "GET /ten.html HTTP/1.0\r\nHost: 127.0.0.1\r\nUser-Agent: x\r\n\r\n";
  velmar::RunStatement s;
  s.file = "gets.vlm";
  s.line = 4;
  s.keyword = "get";
  s.text = "http://127.0.0.1/ten.html";
  uint64_t turn = 0;
  for (auto _ : state) {
    if (state.range(1) != 0) {
      const std::string mark = std::to_string(++turn);
      body.replace(0, mark.size(), mark);
    }
    writer.BeforeStatement(s, stop, vars);
    velmar::HttpExchangeReport x;
    x.method = "GET";
    x.url = s.text;
    x.requestBytes = request;
    x.responseHead = "HTTP/1.1 200 OK\r\nServer: nginx\r\nContent-Length: 10240\r\n\r\n";
    x.responseBody = body;
    x.responseBodySize = body.size();
    x.status = 200;
    writer.HttpExchange(x);
    velmar::StatementOutcome outcome;
    outcome.elapsedNs = 1000;
    writer.AfterStatement(s, outcome);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_WriterOneExchange)
    ->Args({10 * 1024, 0})
    ->Args({10 * 1024, 1})
    ->Unit(benchmark::kMicrosecond);

// A trace of 10,000 requests among 1,000,000 statements, written by the
// writer itself, then read and made into the viewer page.
void BM_ViewerPageOfALargeTrace(benchmark::State& state) {
  const fs::path dir = fs::path(VELMAR_TEST_BINARY_DIR);
  const std::string path = (dir / "large.trace").string();
  {
    velmar::TraceOptions options;
    options.path = path;
    velmar::TraceWriter writer(options);
    std::string reason;
    if (!writer.Open(reason)) {
      state.SkipWithError(reason.c_str());
      return;
    }
    velmar::StopSignal stop;
    velmar::VariableTable vars;
    const std::string body = "<html><body>" + std::string(2000, 'b') + "</body></html>";
    for (int i = 0; i < 1000000; ++i) {
      velmar::RunStatement s;
      s.index = static_cast<uint32_t>(i % 50);
      s.file = "large.vlm";
      s.line = s.index + 1;
      s.keyword = i % 100 == 0 ? "get" : "var";
      s.text = i % 100 == 0 ? "http://127.0.0.1/item" : "[#n] ([#n]+1)";
      writer.BeforeStatement(s, stop, vars);
      if (i % 100 == 0) {
        const std::string u = "http://127.0.0.1/item?id=" + std::to_string(i / 100);
        velmar::HttpExchangeReport x;
        x.method = "GET";
        x.url = u;
        x.requestBytes = "GET /item HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        x.responseHead = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
        const std::string own = body + "<p>item " + std::to_string(i / 100) + "</p>";
        x.responseBody = own;
        x.responseBodySize = own.size();
        x.status = i % 1000 == 0 ? 404 : 200;
        writer.HttpExchange(x);
      }
      writer.AfterStatement(s, velmar::StatementOutcome{});
    }
  }
  std::string html;
  for (auto _ : state) {
    velmar::TraceFile trace;
    std::string error;
    if (!velmar::ReadTraceFile(path, trace, error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    html = velmar::TraceToHtml(trace);
  }
  std::ofstream(dir / "large.html", std::ios::binary) << html;
  std::error_code ec;
  state.counters["trace_mb"] = static_cast<double>(fs::file_size(path, ec)) / 1e6;
  state.counters["page_mb"] = static_cast<double>(html.size()) / 1e6;
}
BENCHMARK(BM_ViewerPageOfALargeTrace)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
