// Requests per second of the `get` statement against a local nginx serving a
// 10 KB file, side by side with ApacheBench (ab) on the same server in the
// same run: one client in sequence (ab -c 1), and 16 clients at once
// (ab -c 16). The counters "ratio" give ours / ab.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "engine/script_context.h"
#include "engine/statements/http_statements.h"
#include "support/test_support.h"
#include "test_servers.h"

namespace {

using velmar::testing::NginxServer;
using velmar::testing::TempDir;

struct Setup {
  TempDir home;
  std::unique_ptr<NginxServer> nginx;
  std::string url;
  velmar::EngineEnvironment env;
  Setup() {
    nginx = std::make_unique<NginxServer>(home.path() / "nginx");
    std::ofstream(nginx->root() / "ten.html") << std::string(10 * 1024, 'x');
    url = "http://127.0.0.1:" + std::to_string(nginx->httpPort()) + "/ten.html";
    env = velmar::EngineEnvironment::ForHome(home.path());
  }
};

Setup& TheSetup() {
  static Setup setup;
  return setup;
}

// ab's "Requests per second" for n requests at concurrency c; 0 when ab fails.
double RunAb(int n, int c) {
  const std::string command =
      "ab -q -n " + std::to_string(n) + " -c " + std::to_string(c) + " " + TheSetup().url + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return 0;
  char line[512];
  double rps = 0;
  while (std::fgets(line, sizeof line, pipe)) {
    std::sscanf(line, "Requests per second: %lf", &rps);
  }
  pclose(pipe);
  return rps;
}

// Runs `total` gets split over `clients` scripts; requests per second.
double RunGets(int total, int clients, bool& failed) {
  Setup& s = TheSetup();
  std::vector<std::unique_ptr<velmar::ScriptContext>> contexts;
  for (int i = 0; i < clients; ++i)
    contexts.push_back(std::make_unique<velmar::ScriptContext>(s.env));
  std::atomic<int> failures{0};
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int i = 0; i < clients; ++i) {
    threads.emplace_back([&, i] {
      velmar::ScriptContext& ctx = *contexts[i];
      for (int k = 0; k < total / clients; ++k) {
        velmar::ExecuteGet(ctx, s.url);
        if (ctx.variables["status"] != "1" || ctx.variables["http_body"].size() != 10240) {
          ++failures;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  failed = failures > 0;
  return (total / clients) * clients / seconds;
}

// The machine is shared, so ab and the client take turns, and the counters
// report the median of the per-round figures.
void Compare(benchmark::State& state, int total, int clients) {
  if (!TheSetup().nginx->ok()) {
    state.SkipWithError("nginx did not start");
    return;
  }
  std::vector<double> ours, ab, ratio;
  for (auto _ : state) {
    bool failed = false;
    const bool abFirst = ours.size() % 2 == 0;
    double a = abFirst ? RunAb(total, clients) : 0;
    const double o = RunGets(total, clients, failed);
    if (!abFirst) a = RunAb(total, clients);
    ours.push_back(o);
    ab.push_back(a);
    ratio.push_back(a > 0 ? o / a : 0);
    if (failed) state.SkipWithError("a request failed");
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
  };
  state.counters["velmar_rps"] = median(ours);
  state.counters["ab_rps"] = median(ab);
  state.counters["ratio"] = median(ratio);
}

void BM_SequentialGets(benchmark::State& state) {
  Compare(state, 2000, 1);
}
void BM_SixteenClients(benchmark::State& state) {
  Compare(state, 4000, 16);
}

BENCHMARK(BM_SequentialGets)->Iterations(9)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SixteenClients)->Iterations(9)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
