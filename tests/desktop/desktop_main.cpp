// The desktop tests' program: the desktop first, then one QApplication on
// it around the tests. No Chromium sandbox (the tests may run as root).

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "desktop_session.h"

int main(int argc, char** argv) {
  velmar::testing::DesktopSession::Start();
  // Without a display the application comes up offscreen and every test
  // reports what is missing.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox", 0);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  int status = 0;
  {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    status = RUN_ALL_TESTS();
  }
  velmar::testing::DesktopSession::Stop();
  return status;
}
