// bench_manager_scripts [SCRIPTS] [SECONDS]: the manager's window with
// SCRIPTS scripts (1000), each looping on `show` with a counter.
//  - memory: resident growth per script added but not started;
//  - latency: a helper thread posts a timestamped call to the UI thread every
//    5 ms while all scripts run; the delay until it runs is the UI thread's
//    event latency (median, 99th percentile, maximum).
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_environment.h"
#include "engine/script_instance.h"
#include "manager/main_window.h"
#include "manager/script_list_model.h"
#include "ui/qt_host.h"

namespace {

using Clock = std::chrono::steady_clock;

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t at = std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()));
  return values[at];
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const int scripts = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox", 0);
  QApplication app(argc, argv);

  const auto home = std::filesystem::temp_directory_path() / "velmar-bench-manager";
  std::filesystem::create_directories(home / "Script");
  const auto script = home / "Script" / "count.vlm";
  std::ofstream(script) << "<main>\nvar [#n] 0\nwhile (1)\n{\n  var [#n] ([#n]+1)\n"
                           "  show count [#n]\n}\n";
  const velmar::EngineEnvironment env = velmar::EngineEnvironment::ForHome(home);
  velmar::MainWindow window(env);
  window.quit = [] {};
  window.show();
  app.processEvents();

  // Warm up the first add (program cache, allocator) before measuring.
  window.addScript("warm", script.string(), "");
  app.processEvents();
  const long before = ResidentKb();
  for (int i = 0; i < scripts; ++i) window.addScript("s" + std::to_string(i), script.string(), "");
  app.processEvents();
  const long after = ResidentKb();
  std::printf("scripts: %d\nresident per idle script: %.1f KB (%ld KB -> %ld KB)\n", scripts,
              double(after - before) / scripts, before, after);

  std::vector<int> all;
  for (int row = 0; row < window.model().rowCount(); ++row) all.push_back(row);
  window.selectRows(all);
  const auto runStart = Clock::now();
  window.command(velmar::MainWindow::kRunScript);
  std::printf("run command for %zu rows: %.1f ms\n", all.size(),
              std::chrono::duration<double, std::milli>(Clock::now() - runStart).count());

  std::vector<double> delays;
  std::atomic<bool> done{false};
  QObject receiver;
  std::thread prober([&] {
    while (!done.load()) {
      const auto sent = Clock::now();
      QMetaObject::invokeMethod(
          &receiver,
          [&, sent] {
            delays.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
          },
          Qt::QueuedConnection);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  // exit(), not quit(): quit() asks the window, which refuses to close
  // while scripts run.
  QTimer::singleShot(seconds * 1000, &app, [&] { QCoreApplication::exit(0); });
  app.exec();
  done = true;
  prober.join();
  app.processEvents();

  long long shows = 0;
  for (int row = 0; row < window.model().rowCount(); ++row) {
    const QString text = window.model().text(row, 1);
    if (text.startsWith("count ")) shows += text.mid(6).toLongLong();
  }
  std::printf("UI event latency over %d s (%zu probes): median %.2f ms, p99 %.2f ms, max %.2f ms\n",
              seconds, delays.size(), Percentile(delays, 0.5), Percentile(delays, 0.99),
              Percentile(delays, 1.0));
  std::printf("show requests answered: %lld (%.0f per second)\n", shows, double(shows) / seconds);
  std::printf("resident with all running: %ld KB\n", ResidentKb());

  const auto stopStart = Clock::now();
  window.command(velmar::MainWindow::kStopScript);
  window.host().waitAllEnded(30000, [&] { window.host().processRequests(); });
  std::printf("stop of all: %.1f ms\n",
              std::chrono::duration<double, std::milli>(Clock::now() - stopStart).count());
  window.command(velmar::MainWindow::kExit);
  std::filesystem::remove_all(home);
  return 0;
}
