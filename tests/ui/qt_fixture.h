#pragma once
// A Qt host on real scripts for the widget tests: a throwaway home folder,
// waits that run the event loop until a condition holds (with a time limit),
// and screenshots of windows for a person to look at.

#include <gtest/gtest.h>

#include <QString>
#include <QTest>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "qt_test_support.h"
#include "support/test_support.h"
#include "ui/qt_host.h"

namespace velmar::testing {

class QtHostTest : public ::testing::Test {
 protected:
  QtHostTest();
  ~QtHostTest() override;

  ScriptInstance* Start(const std::string& name, const std::string& script);
  // Everything the scripts showed so far, "code:text".
  const std::vector<std::string>& shown() const { return shown_; }
  bool Shown(const std::string& entry);
  bool Ended(ScriptInstance* instance);

  TempDir dir;
  EngineEnvironment env;
  std::unique_ptr<QtHost> host;
  std::vector<WindowEvent> events;
  std::vector<std::string> opened;  // notes handed to the desktop

 private:
  std::vector<std::string> shown_;
};

}  // namespace velmar::testing
