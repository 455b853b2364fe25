#include "manager_fixture.h"

#include <QDir>
#include <QPushButton>
#include <cstdlib>

namespace velmar::testing {

ManagerTest::ManagerTest() : env(EngineEnvironment::ForHome(dir.path())) {}

ManagerTest::~ManagerTest() {
  window.reset();
}

MainWindow& ManagerTest::Window() {
  if (!window) {
    window = std::make_unique<MainWindow>(env);
    window->quit = [this] { ++quits; };
    window->openUrl = [this](const QUrl& url) {
      urls.push_back(url);
      return true;
    };
    window->chooseProjectFile = [this](bool) {
      ++projectDialogs;
      return projectFile;
    };
    window->show();
  }
  return *window;
}

std::string ManagerTest::Script(const std::string& name, const std::string& text) {
  return dir.Write("Script/" + name + ".vlm", text).string();
}

ScriptInstance* ManagerTest::Add(const std::string& name, const std::string& text,
                                 const std::string& param) {
  return Window().addScript(name, Script(name, text), param);
}

void ManagerTest::Click(int id) {
  QPushButton* button = Window().button(id);
  ASSERT_NE(button, nullptr) << id;
  QTest::mouseClick(button, Qt::LeftButton);
}

std::string ManagerTest::ConfigBytes() const {
  return ReadFile(dir.path() / "Config.ini");
}

}  // namespace velmar::testing
