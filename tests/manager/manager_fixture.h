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
#include "qt_test_support.h"
#include "support/test_support.h"

namespace velmar::testing {

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
