// The interpreter's hot path: the expansion and evaluation work of one turn of
// `while ([#n]<1000000) { var [#n] ([#n]+1) }`, and expansion of a 1 MB text
// holding 10,000 references; what keeping received text apart costs (a 1 MB
// page inserted with `[#http_body]`, and the memory of a received variable).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <string>

#include "engine/engine_environment.h"
#include "engine/script_context.h"
#include "engine/statements/expansion.h"

namespace velmar {
namespace {

struct Script {
  explicit Script(int codePage = CodePage::kUtf8) : ctx(Env(env, codePage)) {}
  static const EngineEnvironment& Env(EngineEnvironment& e, int codePage) {
    e.codePage = &CodePage::Get(codePage);
    return e;
  }
  EngineEnvironment env;
  ScriptContext ctx;
};

const std::string kCondition = "([#n]<1000000)";
const std::string kIncrement = "[#n] ([#n]+1)";

// One loop turn as the executor runs it: the loop test expands a copy of the
// stored condition, then the body's `var` runs with its stored text.
void BM_LoopTurn(benchmark::State& state) {
  Script s;
  s.ctx.variables["n"] = "0";
  std::string condition;
  for (auto _ : state) {
    condition = kCondition;
    ExpandAndEvaluate(s.ctx, condition);
    if (condition == "0") s.ctx.variables["n"] = "0";
    ExecuteVar(s.ctx, kIncrement);
    benchmark::DoNotOptimize(condition.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["turns_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoopTurn);

void BM_LoopCondition(benchmark::State& state) {
  Script s;
  s.ctx.variables["n"] = "123456";
  std::string condition;
  for (auto _ : state) {
    condition = kCondition;
    ExpandAndEvaluate(s.ctx, condition);
    benchmark::DoNotOptimize(condition.data());
  }
}
BENCHMARK(BM_LoopCondition);

void BM_VarIncrement(benchmark::State& state) {
  Script s;
  s.ctx.variables["n"] = "0";
  for (auto _ : state) {
    ExecuteVar(s.ctx, kIncrement);
    if (s.ctx.variables["n"].size() > 6) s.ctx.variables["n"] = "0";
  }
}
BENCHMARK(BM_VarIncrement);

// 10,000 references spread over 1,000,000 bytes of text, one per 100 bytes.
// Argument 0: every reference names its own variable; 1: all name the same
// one; 2: like 0 under the GBK code page.
std::string MegabyteText(bool distinct) {
  std::string text;
  for (int i = 0; i < 10000; ++i) {
    const std::string ref = distinct ? "[#v" + std::to_string(10000 + i) + "]" : "[#vv]";
    text.append(100 - ref.size(), 'x');
    text += ref;
  }
  return text;
}

void BM_ExpandMegabyte(benchmark::State& state) {
  const bool distinct = state.range(0) != 1;
  Script s(state.range(0) == 2 ? CodePage::kGbk : CodePage::kUtf8);
  for (int i = 0; i < 10000; ++i) s.ctx.variables["v" + std::to_string(10000 + i)] = "value";
  s.ctx.variables["vv"] = "value";
  const std::string source = MegabyteText(distinct);
  std::string text;
  for (auto _ : state) {
    text = source;
    ExpandReferences(s.ctx, text);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * source.size()));
  state.counters["text_bytes"] = static_cast<double>(source.size());
}
BENCHMARK(BM_ExpandMegabyte)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// `<[#http_body]>` over a 1 MB page full of brackets: as received text
// (argument 1) and as the script's own text without references (0).
void BM_ExpandPageBody(benchmark::State& state) {
  Script s;
  std::string page;
  while (page.size() < (std::size_t{1} << 20)) page += "<a href=\"x\">[#n] a]b <<<</a>\n";
  if (state.range(0) == 1) {
    s.ctx.variables.SetReceived("http_body", page);
  } else {
    for (char& c : page) {
      if (c == '[' || c == ']') c = '|';
    }
    s.ctx.variables["http_body"] = page;
  }
  std::string text;
  for (auto _ : state) {
    text = "<[#http_body]>";
    ReceivedSpans marks;
    ExpandAndEvaluate(s.ctx, text, marks);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_ExpandPageBody)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Heap bytes per variable of 100,000 short ones, set as the script's own
// (argument 0) or as received text (1).
void BM_VariableMemory(benchmark::State& state) {
  constexpr int kCount = 100000;
  double perVariable = 0;
  for (auto _ : state) {
    EngineEnvironment env;
    const std::size_t before = mallinfo2().uordblks;
    {
      VariableTable table;
      for (int i = 0; i < kCount; ++i) {
        const std::string name = "v" + std::to_string(i);
        if (state.range(0) == 1) {
          table.SetReceived(name, "value");
        } else {
          table.Set(name, "value");
        }
      }
      perVariable = static_cast<double>(mallinfo2().uordblks - before) / kCount;
      benchmark::DoNotOptimize(table.size());
    }
  }
  state.counters["bytes_per_variable"] = perVariable;
}
BENCHMARK(BM_VariableMemory)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmar

BENCHMARK_MAIN();
