// bench_manager_desktop [ROWS] [LOOPING] [eager]: what a person waits for.
//  - start: from the program's start (this main) to the first paint of the
//    manager's window, QApplication included;
//  - memory: resident size of the manager with ROWS (1000) idle rows;
//  - stop all: from the "stop all" command to the end of every one of
//    LOOPING (200) scripts looping on `pause`.
// With "eager", the browser engine is started before the window, as the
// manager used to do at every start: the anchor for the start figures.
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QWebEngineProfile>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

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

double Ms(Clock::time_point from) {
  return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

class FirstPaint : public QObject {
 public:
  bool painted = false;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted = true;
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  const auto start = Clock::now();
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const int rows = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int looping = argc > 2 ? std::atoi(argv[2]) : 200;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox", 0);
  QApplication app(argc, argv);

  const auto home = std::filesystem::temp_directory_path() / "velmar-bench-desktop";
  std::filesystem::remove_all(home);
  std::filesystem::create_directories(home / "Script");
  const auto idle = home / "Script" / "idle.vlm";
  std::ofstream(idle) << "<main>\nshow never run\n";
  const auto loop = home / "Script" / "loop.vlm";
  std::ofstream(loop) << "<main>\nvar [#n] 0\nwhile (1)\n{\n  var [#n] ([#n]+1)\n  pause 20\n}\n";
  const velmar::EngineEnvironment env = velmar::EngineEnvironment::ForHome(home);

  {
    if (argc > 3 && std::string(argv[3]) == "eager") (void)QWebEngineProfile::defaultProfile();
    velmar::MainWindow window(env);
    window.quit = [] {};
    FirstPaint paint;
    window.installEventFilter(&paint);
    window.show();
    while (!paint.painted) app.processEvents(QEventLoop::WaitForMoreEvents);
    std::printf("start to first paint: %.1f ms\n", Ms(start));
    std::printf("resident at start: %ld KB\n", ResidentKb());

    for (int i = 0; i < rows; ++i) window.addScript("s" + std::to_string(i), idle.string(), "");
    app.processEvents();
    window.model().flush();
    app.processEvents();
    std::printf("resident with %d idle rows: %ld KB\n", rows, ResidentKb());
    window.command(velmar::MainWindow::kDeleteAll);
  }

  velmar::MainWindow window(env);
  window.quit = [] {};
  window.show();
  app.processEvents();
  for (int i = 0; i < looping; ++i) window.addScript("l" + std::to_string(i), loop.string(), "");
  std::vector<int> all;
  for (int row = 0; row < looping; ++row) all.push_back(row);
  window.selectRows(all);
  window.command(velmar::MainWindow::kRunScript);
  const auto settle = Clock::now();
  while (Ms(settle) < 1000) app.processEvents(QEventLoop::AllEvents, 20);

  const auto stopStart = Clock::now();
  window.menuAction(velmar::MainWindow::kStopAll)->trigger();
  for (;;) {
    bool alive = false;
    for (int row = 0; row < window.model().rowCount() && !alive; ++row) {
      alive = window.model().instanceAt(row)->worker.alive();
    }
    if (!alive) break;
    app.processEvents(QEventLoop::AllEvents, 5);
  }
  std::printf("stop all of %d looping scripts: %.1f ms\n", looping, Ms(stopStart));
  window.command(velmar::MainWindow::kExit);
  std::filesystem::remove_all(home);
  return 0;
}
