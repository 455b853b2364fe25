#pragma once
// The manager's main window on a throwaway home folder, with the desktop's
// file dialogs, URL opener and quit recorded instead of carried out.

#include <gtest/gtest.h>

#include <QString>
#include <QTest>
#include <QUrl>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_environment.h"
#include "engine/script_instance.h"
#include "manager/main_window.h"
#include "manager/script_list_model.h"
#include "support/test_support.h"

namespace velmar::testing {

inline constexpr int kWaitMs = 30000;

inline bool WaitUntil(const std::function<bool()>& done, int ms = kWaitMs) {
  return QTest::qWaitFor(done, ms);
}

// Saves a picture under $VELMAR_UI_SHOTS (when set) for a person to look at.
void SaveShot(QWidget* widget, const QString& name);

class ManagerTest : public ::testing::Test {
 protected:
  ManagerTest();
  ~ManagerTest() override;

  // Builds the window (after a test has written Config.ini, if it wants).
  MainWindow& Window();
  std::string Script(const std::string& name, const std::string& text);
  ScriptInstance* Add(const std::string& name, const std::string& text,
                      const std::string& param = "");
  QString Cell(int row, int column) {
    Window().model().flush();
    return Window().model().text(row, column);
  }
  bool CellBecomes(int row, int column, const QString& text) {
    return WaitUntil([&] { return Cell(row, column) == text; });
  }
  int Rows() { return Window().model().rowCount(); }
  void Click(int id);
  std::string ConfigBytes() const;

  TempDir dir;
  EngineEnvironment env;
  std::unique_ptr<MainWindow> window;
  int quits = 0;
  std::vector<QUrl> urls;
  QString projectFile;  // what the project dialogs answer
  int projectDialogs = 0;
};

}  // namespace velmar::testing
