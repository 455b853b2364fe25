// `velmar check` against loading: a generated 100,000-line script with 50
// `using` files, made of the statements real scripts hold (sections, blocks,
// loops, switches, patterns, built-in calls and references). The check must
// stay under a second and within twice the time the loader needs for the
// same program, measured side by side in one run.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "engine/script_program.h"
#include "tooling/script_checker.h"

namespace {

namespace fs = std::filesystem;

constexpr int kIncludes = 50;
constexpr int kMainLines = 100000;

class CheckFixture : public benchmark::Fixture {
 public:
  void SetUp(const benchmark::State&) override {
    if (!home_.empty()) return;
    std::string tmpl = (fs::temp_directory_path() / "velmar-bench-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) return;
    home_ = tmpl;
    fs::create_directories(home_ / "Script" / "inc");
    for (int i = 0; i < kIncludes; ++i) {
      std::ofstream f(home_ / "Script" / "inc" / ("part" + std::to_string(i) + ".vlm"),
                      std::ios::binary);
      f << "<part" << i << ">\r\nregex cell" << i << " <td>{[^<]*}</td>\r\n"
        << "get http://127.0.0.1/p?i=" << i << "\r\nmatch cell" << i << " [#http_body]\r\n"
        << "show [$cell" << i << ".count] [@len<<<[#http_body]]\r\nreturn\r\n";
    }
    // Sections of 20 lines, each with its blocks closed; a `using` line
    // every 2,000 lines and calls into the included sections.
    static const char* const kSection[] = {
        "var [#n] 0", "while ([#n] < 3)", "{", "  var [#n] ([#n] + 1)", "  if ([#n] == 2)",
        "  {", "    show two [@left<<<[#item]<<<3]", "  }", "  else", "  {",
        "    show other", "  }", "}", "switch [#mode]", "{", "case fast", "  show fast",
        "  break", "default", "}"};
    std::string text = "<main>\r\n";
    int lines = 1;
    int section = 0;
    while (lines < kMainLines) {
      text += "<s" + std::to_string(section) + ">\r\n";
      for (const char* line : kSection) text += std::string(line) + "\r\n";
      text += "call <part" + std::to_string(section % kIncludes) + ">\r\n";
      lines += 22;
      if (section % 90 == 0 && section / 90 < kIncludes) {
        text += "using inc.part" + std::to_string(section / 90) + "\r\n";
        lines += 1;
      }
      ++section;
    }
    text += "exit\r\n";
    mainPath_ = (home_ / "Script" / "main.vlm").string();
    std::ofstream(mainPath_, std::ios::binary) << text;
  }

  ~CheckFixture() override {
    std::error_code ec;
    if (!home_.empty()) fs::remove_all(home_, ec);
  }

 protected:
  fs::path home_;
  std::string mainPath_;
};

BENCHMARK_DEFINE_F(CheckFixture, LoadProgram)(benchmark::State& state) {
  if (mainPath_.empty()) {
    state.SkipWithError("cannot create the temporary home folder");
    return;
  }
  const velmar::EngineEnvironment env = velmar::EngineEnvironment::ForHome(home_);
  for (auto _ : state) {
    const velmar::ScriptProgram program = velmar::LoadScriptFile(mainPath_, env);
    benchmark::DoNotOptimize(program.commands.size());
  }
}
BENCHMARK_REGISTER_F(CheckFixture, LoadProgram)->Unit(benchmark::kMillisecond);

BENCHMARK_DEFINE_F(CheckFixture, CheckProgram)(benchmark::State& state) {
  if (mainPath_.empty()) {
    state.SkipWithError("cannot create the temporary home folder");
    return;
  }
  const velmar::EngineEnvironment env = velmar::EngineEnvironment::ForHome(home_);
  std::size_t findings = 0;
  for (auto _ : state) {
    findings = velmar::CheckScriptFile(mainPath_, env).size();
    benchmark::DoNotOptimize(findings);
  }
  state.counters["findings"] = static_cast<double>(findings);
}
BENCHMARK_REGISTER_F(CheckFixture, CheckProgram)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
