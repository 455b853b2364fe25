// Match-all throughput of typical extraction patterns over real HTML pages
// (about 1 MB, from the Python documentation package), case-insensitive:
// the engine through a named expression (as a script's `match` runs it, with
// the code-page crossings), the engine alone on UTF-16 text, PCRE2's
// interpreter and JIT, and std::regex, each collecting every group text.
//
//   cmake --build build -j2 --target bench_regex && build/bench/bench_regex

#define PCRE2_CODE_UNIT_WIDTH 8
#include <benchmark/benchmark.h>
#include <pcre2.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "regex/named_regex.h"
#include "regex/reg_exp.h"
#include "values/code_page.h"

namespace {

struct PatternCase {
  const char* name;
  const char* velmar;  // the script dialect
  const char* pcre;    // the same in PCRE2 / ECMAScript syntax
  bool dotAll;         // `.` in the dialect also takes line breaks
};

const PatternCase kCases[] = {
    {"cell", "<td>{[^<]*}</td>", "<td>([^<]*)</td>", false},
    {"link", "href=\"{[^\"]*}\"", "href=\"([^\"]*)\"", false},
    {"title_lazy", "<title>{.*?}</title>", "<title>([\\s\\S]*?)</title>", true},
    {"name_number", "{\\w}={\\z}", "([a-z]+)=([0-9]+)", false},
    {"alternation", "{(href)|(src)|(id)}=\"{[^\"]*}\"", "(href|src|id)=\"([^\"]*)\"", false},
    {"mostly_failing", "{\\w}@{\\w}\\.{\\w}", "([a-z]+)@([a-z]+)\\.([a-z]+)", false},
};

const char* const kPages[] = {
    "/usr/share/doc/python3.11/html/library/stdtypes.html",
    "/usr/share/doc/python3.11/html/library/functions.html",
};

const std::string& Html() {
  static const std::string html = [] {
    std::string all;
    for (const char* path : kPages) {
      std::ifstream in(path, std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "bench_regex: %s is missing (install python3.11-doc)\n", path);
        std::exit(1);
      }
      all.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return all;
  }();
  return html;
}

void VelmarMatchAll(benchmark::State& state, const PatternCase& pc) {
  const velmar::CodePage& cp = velmar::CodePage::Get(velmar::CodePage::kUtf8);
  auto regex = velmar::CreateNamedRegex(cp, pc.velmar);
  const std::string& html = Html();
  int count = 0;
  for (auto _ : state) {
    count = velmar::MatchAll(*regex, cp, html);
    benchmark::DoNotOptimize(count);
  }
  state.counters["results"] = count;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(html.size()));
}

void VelmarEngine(benchmark::State& state, const PatternCase& pc) {
  const velmar::CodePage& cp = velmar::CodePage::Get(velmar::CodePage::kUtf8);
  velmar::RegExpProgram program;
  const std::u16string pattern = cp.ToUtf16(pc.velmar);
  velmar::Compile(program, std::u16string_view(pattern));
  velmar::RegExpMatch m;
  const std::u16string text = cp.ToUtf16(Html());
  std::vector<std::u16string> results;
  for (auto _ : state) {
    results.clear();
    std::size_t from = 0;
    while (from <= text.size() && velmar::Match(program, m, text, nullptr, from)) {
      for (int g = 0; g < program.groupCount; ++g) results.emplace_back(m.Group(text, g));
      if (static_cast<std::size_t>(m.matchEnd) >= text.size()) break;
      from = m.matchEnd == m.matchStart ? m.matchEnd + 1 : m.matchEnd;
    }
    benchmark::DoNotOptimize(results.data());
  }
  state.counters["results"] = static_cast<double>(results.size());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(Html().size()));
}

void Pcre2(benchmark::State& state, const PatternCase& pc, bool jit) {
  int error = 0;
  PCRE2_SIZE offset = 0;
  uint32_t options = PCRE2_CASELESS | (pc.dotAll ? PCRE2_DOTALL : 0);
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pc.pcre), PCRE2_ZERO_TERMINATED,
                                   options, &error, &offset, nullptr);
  if (!code) {
    state.SkipWithError("pcre2_compile failed");
    return;
  }
  if (jit && pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) != 0) {
    pcre2_code_free(code);
    state.SkipWithError("pcre2 JIT unavailable");
    return;
  }
  pcre2_match_data* md = pcre2_match_data_create_from_pattern(code, nullptr);
  const std::string& html = Html();
  const auto* subject = reinterpret_cast<PCRE2_SPTR>(html.data());
  std::vector<std::string> results;
  for (auto _ : state) {
    results.clear();
    PCRE2_SIZE from = 0;
    for (;;) {
      const int rc = pcre2_match(code, subject, html.size(), from, 0, md, nullptr);
      if (rc <= 0) break;
      const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
      for (int g = 1; g < rc; ++g) results.emplace_back(html, ov[2 * g], ov[2 * g + 1] - ov[2 * g]);
      if (ov[1] >= html.size()) break;
      from = ov[1] == ov[0] ? ov[1] + 1 : ov[1];
    }
    benchmark::DoNotOptimize(results.data());
  }
  state.counters["results"] = static_cast<double>(results.size());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(html.size()));
  pcre2_match_data_free(md);
  pcre2_code_free(code);
}

void StdRegex(benchmark::State& state, const PatternCase& pc) {
  const std::regex re(pc.pcre, std::regex::ECMAScript | std::regex::icase);
  const std::string& html = Html();
  std::vector<std::string> results;
  for (auto _ : state) {
    results.clear();
    for (auto it = std::sregex_iterator(html.begin(), html.end(), re); it != std::sregex_iterator();
         ++it) {
      for (std::size_t g = 1; g < it->size(); ++g) results.push_back((*it)[g].str());
    }
    benchmark::DoNotOptimize(results.data());
  }
  state.counters["results"] = static_cast<double>(results.size());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(html.size()));
}

int RegisterAll() {
  for (const PatternCase& pc : kCases) {
    const std::string n = pc.name;
    benchmark::RegisterBenchmark(("velmar_matchall/" + n).c_str(), [&pc](benchmark::State& s) {
      VelmarMatchAll(s, pc);
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("velmar_engine/" + n).c_str(), [&pc](benchmark::State& s) {
      VelmarEngine(s, pc);
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("pcre2_interp/" + n).c_str(), [&pc](benchmark::State& s) {
      Pcre2(s, pc, false);
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("pcre2_jit/" + n).c_str(), [&pc](benchmark::State& s) {
      Pcre2(s, pc, true);
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("std_regex/" + n).c_str(),
                                 [&pc](benchmark::State& s) { StdRegex(s, pc); })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
  }
  return 0;
}

const int kRegistered = RegisterAll();

}  // namespace

BENCHMARK_MAIN();
