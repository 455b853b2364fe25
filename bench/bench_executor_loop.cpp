// The interpreter's headline figure: a 1,000,000-turn `while` loop whose
// body is one `var` increment, in loop turns per second. A second figure
// runs a million `var` statements in a straight line, which isolates the
// executor's per-statement cost (dispatch and expansion) from the loop's
// brace tests.

#include <benchmark/benchmark.h>

#include <string>

#include "engine/executor.h"
#include "engine/script_context.h"
#include "engine/script_program.h"
#include "engine/statements/expansion.h"

namespace velmar {
namespace {

constexpr int kTurns = 1000000;

bool EvaluationAvailable(const EngineEnvironment& env) {
  ScriptContext probe(env);
  std::string text = "(1+1)";
  ExpandAndEvaluate(probe, text);
  return text == "2";
}

void RunProgram(const EngineEnvironment& env, const ScriptProgram& program, std::string* counter) {
  ScriptContext ctx(env);
  ctx.program = &program;
  ctx.lastIndex = program.lastIndex();
  ctx.executionStack.push_back(0);
  runScript(ctx);
  if (counter) *counter = ctx.variables["n"];
}

void BM_WhileLoopIncrement(benchmark::State& state) {
  EngineEnvironment env;
  if (!EvaluationAvailable(env)) {
    // Without evaluation the loop condition never turns "0".
    state.SkipWithError("expression evaluation is not available in this build");
    return;
  }
  const ScriptProgram program = parseScript("var [#n] 0\r\nwhile ([#n]<" + std::to_string(kTurns) +
                                                ")\r\n{\r\nvar [#n] ([#n]+1)\r\n}\r\n",
                                            env);
  std::string n;
  for (auto _ : state) {
    RunProgram(env, program, &n);
    benchmark::DoNotOptimize(n);
  }
  if (n != std::to_string(kTurns)) state.SkipWithError(("loop ended at n = " + n).c_str());
  state.counters["turns_per_second"] = benchmark::Counter(
      static_cast<double>(kTurns) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WhileLoopIncrement)->Unit(benchmark::kMillisecond);

void BM_StraightLineVar(benchmark::State& state) {
  EngineEnvironment env;
  ScriptProgram program;
  // Starts from 0: an increment of an empty variable does not evaluate and
  // would make the text grow with every statement.
  program.commands.push_back(ScriptCommand{5, "[#n] 0"});
  program.commands.insert(program.commands.end(), kTurns, ScriptCommand{5, "[#n] ([#n]+1)"});
  program.commands.push_back(ScriptCommand{22, ""});  // `exit`
  for (auto _ : state) RunProgram(env, program, nullptr);
  state.counters["statements_per_second"] = benchmark::Counter(
      static_cast<double>(kTurns) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StraightLineVar)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmar

BENCHMARK_MAIN();
