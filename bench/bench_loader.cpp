// Loading a large script with many includes: a 10 MB main script whose
// `using` lines pull in 1,000 include files spread through it. The loader
// must stay linear in the size of the text, so this should take well under a
// second.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "engine/script_program.h"
#include "values/text_file_ops.h"

namespace {

namespace fs = std::filesystem;

constexpr int kIncludes = 1000;
constexpr std::size_t kMainSize = 10u << 20;

class LoaderFixture : public benchmark::Fixture {
 public:
  void SetUp(const benchmark::State&) override {
    if (!home_.empty()) return;
    std::string tmpl = (fs::temp_directory_path() / "velmar-bench-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) return;
    home_ = tmpl;
    fs::create_directories(home_ / "Script" / "inc");

    // Each include holds a label, a few statements and a continuation line.
    for (int i = 0; i < kIncludes; ++i) {
      std::ofstream f(home_ / "Script" / "inc" / ("part" + std::to_string(i) + ".vlm"),
                      std::ios::binary);
      f << "<part" << i << ">\r\nvar n=" << i << "\r\nget http://127.0.0.1/p?i=[#n]\r\n"
        << "match re [#http_body]\r\n  continued text\r\nreturn\r\n";
    }

    // The main script: ordinary statements with a `using` line every so often.
    std::string text;
    text.reserve(kMainSize + 4096);
    const std::string block =
        "<loop>\r\nshow working on [#item] with some longer argument text here\r\n"
        "if ([#count] > 10)\r\n{\r\n  post http://127.0.0.1/form a=1&b=2\r\n}\r\n"
        "// a comment line\r\n\r\n";
    const std::size_t perInclude = kMainSize / kIncludes;
    for (int i = 0; i < kIncludes; ++i) {
      const std::size_t target = perInclude * static_cast<std::size_t>(i + 1);
      while (text.size() < target) text += block;
      text += "using inc.part" + std::to_string(i) + "\r\n";
    }
    text += "exit\r\n";
    mainPath_ = (home_ / "Script" / "main.vlm").string();
    std::ofstream(mainPath_, std::ios::binary) << text;
    mainSize_ = text.size();
  }

  void TearDown(const benchmark::State&) override {}

  ~LoaderFixture() override {
    std::error_code ec;
    if (!home_.empty()) fs::remove_all(home_, ec);
  }

 protected:
  fs::path home_;
  std::string mainPath_;
  std::size_t mainSize_ = 0;
};

BENCHMARK_DEFINE_F(LoaderFixture, LoadScriptWithIncludes)(benchmark::State& state) {
  if (mainPath_.empty()) {
    state.SkipWithError("cannot create the temporary home folder");
    return;
  }
  const velmar::EngineEnvironment env = velmar::EngineEnvironment::ForHome(home_);
  std::size_t commands = 0;
  for (auto _ : state) {
    const velmar::ScriptProgram program = velmar::LoadScriptFile(mainPath_, env);
    commands = program.commands.size();
    benchmark::DoNotOptimize(commands);
  }
  state.counters["commands"] = static_cast<double>(commands);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(mainSize_));
}
BENCHMARK_REGISTER_F(LoaderFixture, LoadScriptWithIncludes)->Unit(benchmark::kMillisecond);

// The parse alone, on text already in memory: what the loader costs on top
// of reading the files.
BENCHMARK_DEFINE_F(LoaderFixture, ParseOnly)(benchmark::State& state) {
  if (mainPath_.empty()) {
    state.SkipWithError("cannot create the temporary home folder");
    return;
  }
  const velmar::EngineEnvironment env = velmar::EngineEnvironment::ForHome(home_);
  const std::string text = velmar::ReadTextFile(mainPath_);
  for (auto _ : state) {
    const velmar::ScriptProgram program = velmar::parseScript(text, env, mainPath_);
    benchmark::DoNotOptimize(program.commands.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}
BENCHMARK_REGISTER_F(LoaderFixture, ParseOnly)->Unit(benchmark::kMillisecond);

// Reading the main script alone: the text file reader's share.
BENCHMARK_DEFINE_F(LoaderFixture, ReadOnly)(benchmark::State& state) {
  for (auto _ : state) {
    const std::string text = velmar::ReadTextFile(mainPath_);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(mainSize_));
}
BENCHMARK_REGISTER_F(LoaderFixture, ReadOnly)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
