#include "qt_fixture.h"

#include <QDir>
#include <QPixmap>
#include <algorithm>
#include <cstdlib>

namespace velmar::testing {

QtHostTest::QtHostTest() : env(EngineEnvironment::ForHome(dir.path(), KeywordFlavor::kRunner)) {
  host = std::make_unique<QtHost>(env, QtHost::kRunnerCaption);
  host->onText = [this](ScriptInstance*, int32_t code, const std::string& text) {
    shown_.push_back(std::to_string(code) + ":" + text);
  };
  host->onWindowEvent = [this](const WindowEvent& event) { events.push_back(event); };
  host->setFileOpener([this](const std::string& path) { opened.push_back(path); });
}

QtHostTest::~QtHostTest() {
  host.reset();
}

ScriptInstance* QtHostTest::Start(const std::string& name, const std::string& script) {
  const auto path = dir.Write("Script/" + name + ".vlm", script);
  ScriptInstance* instance = host->startScript(name, path.string(), "");
  EXPECT_TRUE(host->run(*instance));
  return instance;
}

bool QtHostTest::Shown(const std::string& entry) {
  return WaitUntil([&] { return std::find(shown_.begin(), shown_.end(), entry) != shown_.end(); });
}

bool QtHostTest::Ended(ScriptInstance* instance) {
  return WaitUntil([&] { return !instance->worker.alive(); });
}

}  // namespace velmar::testing
