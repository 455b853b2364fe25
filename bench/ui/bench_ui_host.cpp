// Speed of the Qt host on the offscreen platform:
//  - `show` round trip worker -> UI thread -> worker with 100 scripts sending
//    at full speed (median and 99th percentile);
//  - `openwindow` until the first completed load of a local page (median);
//  - `jswindow` round trip (median).
// Run: build/bench/ui/bench_ui_host [shows-per-script]

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWebEnginePage>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/engine_environment.h"
#include "ui/qt_host.h"
#include "ui/script_window.h"

namespace {

using Clock = std::chrono::steady_clock;
using velmar::HostRequest;

// Times every request of the chosen codes around the host's own handling.
class TimedHost : public velmar::QtHost {
 public:
  using QtHost::QtHost;
  void handleRequest(const HostRequest& request, const std::string& text) override {
    const bool timed = request.code == velmar::REQ_SHOW || request.code == velmar::REQ_JSWINDOW ||
                       request.code == velmar::REQ_HIDEWINDOW;
    const auto start = Clock::now();
    QtHost::handleRequest(request, text);
    if (!timed) return;
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    std::lock_guard<std::mutex> lock(mutex_);
    times_[request.code].push_back(us);
  }
  std::vector<double> Take(int32_t code) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(times_[code], {});
  }

 private:
  std::mutex mutex_;
  std::map<int32_t, std::vector<double>> times_;
};

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t index =
      std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()));
  return values[index];
}

// Runs the event loop until `done` holds or `ms` passed.
bool Spin(const std::function<bool()>& done, int ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

void Write(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox", 0);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  const int showsPerScript = argc > 1 ? std::atoi(argv[1]) : 2000;

  const std::filesystem::path home =
      std::filesystem::temp_directory_path() / ("velmar_bench_ui_" + std::to_string(getpid()));
  const velmar::EngineEnvironment env =
      velmar::EngineEnvironment::ForHome(home, velmar::KeywordFlavor::kRunner);
  auto host = std::make_unique<TimedHost>(env, velmar::QtHost::kRunnerCaption);

  // 1. show round trips, 100 scripts at once.
  constexpr int kScripts = 100;
  const std::string loop = "var [#n] 0\nwhile ([#n]<" + std::to_string(showsPerScript) +
                           ")\n{\nshow tick\nvar [#n] ([#n]+1)\n}\n";
  Write(home / "Script" / "shows.vlm", loop);
  std::vector<velmar::ScriptInstance*> scripts;
  for (int i = 0; i < kScripts; ++i) {
    scripts.push_back(host->startScript("shows", (home / "Script" / "shows.vlm").string(), ""));
  }
  const auto started = Clock::now();
  for (auto* s : scripts) host->run(*s);
  Spin(
      [&] {
        return std::none_of(scripts.begin(), scripts.end(),
                            [](auto* s) { return s->worker.alive(); });
      },
      600000);
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  const std::vector<double> shows = host->Take(velmar::REQ_SHOW);
  std::printf(
      "show round trip, %d scripts: %zu requests in %.2f s (%.0f/s); median %.1f us, "
      "p99 %.1f us\n",
      kScripts, shows.size(), seconds, shows.size() / seconds, Percentile(shows, 0.5),
      Percentile(shows, 0.99));

  // 1b. A request the worker waits for (hidewindow of a name without a
  // window): worker -> UI thread -> worker, 100 scripts at once, and alone.
  for (int senders : {kScripts, 1}) {
    Write(home / "Script" / "waits.vlm", "var [#n] 0\nwhile ([#n]<" +
                                             std::to_string(showsPerScript) +
                                             ")\n{\nhidewindow none\nvar [#n] ([#n]+1)\n}\n");
    std::vector<velmar::ScriptInstance*> waiting;
    for (int i = 0; i < senders; ++i) {
      waiting.push_back(host->startScript("waits", (home / "Script" / "waits.vlm").string(), ""));
    }
    for (auto* s : waiting) host->run(*s);
    Spin(
        [&] {
          return std::none_of(waiting.begin(), waiting.end(),
                              [](auto* s) { return s->worker.alive(); });
        },
        600000);
    const std::vector<double> trips = host->Take(velmar::REQ_HIDEWINDOW);
    std::printf(
        "waited request round trip, %d script(s): %zu requests; median %.1f us, p99 %.1f us\n",
        senders, trips.size(), Percentile(trips, 0.5), Percentile(trips, 0.99));
  }

  // 2. openwindow until the first completed load of a local page.
  Write(home / "page.html",
        "<html><head><title>bench</title></head><body><p id=x>hello</p></body></html>");
  const std::string url = "file://" + (home / "page.html").string();
  std::vector<double> opens;
  for (int i = 0; i < 15; ++i) {
    const std::string name = "w" + std::to_string(i);
    const auto t0 = Clock::now();
    host->handleRequest(HostRequest{velmar::REQ_OPENWINDOW, nullptr}, name + " " + url);
    Spin([&] { return host->window(name) && host->window(name)->loadedOnce(); }, 60000);
    opens.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  std::printf("openwindow + first load: median %.1f ms (first %.1f ms)\n", Percentile(opens, 0.5),
              opens.front());

  // 3. jswindow round trips from a script.
  Write(home / "Script" / "page.vlm",
        "var [#n] 0\nwhile ([#n]<300)\n{\njswindow w0 document.getElementById('x').textContent\n"
        "var [#n] ([#n]+1)\n}\n");
  auto* pager = host->startScript("page", (home / "Script" / "page.vlm").string(), "");
  host->run(*pager);
  Spin([&] { return !pager->worker.alive(); }, 600000);
  const std::vector<double> calls = host->Take(velmar::REQ_JSWINDOW);
  std::printf("jswindow round trip: %zu calls; median %.2f ms, p99 %.2f ms\n", calls.size(),
              Percentile(calls, 0.5) / 1000, Percentile(calls, 0.99) / 1000);

  host.reset();
  std::error_code ec;
  std::filesystem::remove_all(home, ec);
  return 0;
}
