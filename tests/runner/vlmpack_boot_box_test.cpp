// The desktop runner with a boot file it cannot use: the message box shows
// the boot-file text, and the program ends once a person has closed it. The
// runner runs in a child process (it owns the application object and the
// signal mask there), on the offscreen platform; a routine that Qt runs when
// the application object is made watches for the box from inside, as a
// person looking at the screen would, and closes it with Enter.

#ifdef VLMPACK_DESKTOP_TESTS

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runner/windowed_runner.h"
#include "support/test_support.h"

namespace velmar {
namespace {

using testing::TempDir;

int gBoxes = 0;
QString gBoxText;

void WatchForTheBox() {
  auto* watch = new QTimer(QCoreApplication::instance());
  QObject::connect(watch, &QTimer::timeout, [] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (!box || !box->isVisible() || box->property("seen").toBool()) continue;
      box->setProperty("seen", true);
      ++gBoxes;
      gBoxText = box->windowTitle() + "|" + box->text();
      QTest::keyClick(box, Qt::Key_Return);
    }
  });
  watch->start(20);
  // A box that never comes (or never closes) fails instead of hanging.
  QTimer::singleShot(120000, [] {
    std::fprintf(stderr, "no box closed in time; boxes=%d\n", gBoxes);
    std::_Exit(4);
  });
}

// Runs the desktop runner on `home` and reports what it showed and how it
// ended on standard error, for the parent to match.
[[noreturn]] void RunAndReport(const std::filesystem::path& home) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 1);
  qAddPreRoutine(WatchForTheBox);
  int argc = 1;
  char name[] = "vlmpack";
  char* argv[] = {name, nullptr};
  const int status = RunWindowed(home, argc, argv);
  std::fprintf(stderr, "status=%d boxes=%d box=%s\n", status, gBoxes,
               gBoxText.toUtf8().constData());
  std::fflush(stderr);
  std::_Exit(0);
}

constexpr char kExpected[] =
    "status=3 boxes=1 box=提示窗口\\|启动文件\\(Velmar\\.boot\\)无法打开或者格式无效!\n";

TEST(VlmpackDesktopDeathTest, BootFileWithoutUsableLinesShowsTheBoxThenEnds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempDir home;
  home.Write("Script/main.vlm", "show x\n");
  // Lines without three fields only: nothing to start.
  home.Write("Velmar.boot", "main.vlm\nm^main.vlm\n\n");
  EXPECT_EXIT(RunAndReport(home.path()), ::testing::ExitedWithCode(0), kExpected);
}

TEST(VlmpackDesktopDeathTest, MissingBootFileShowsTheBoxThenEnds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempDir home;
  home.Write("Script/main.vlm", "show x\n");
  EXPECT_EXIT(RunAndReport(home.path()), ::testing::ExitedWithCode(0), kExpected);
}

}  // namespace
}  // namespace velmar

#endif
