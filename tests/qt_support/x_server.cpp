#include "x_server.h"

#include <QStandardPaths>
#include <QTest>
#include <cstdlib>

namespace velmar::testing {

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) old_ = old;
  value ? setenv(name, value, 1) : unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_);
}

XServer::XServer() {
  const QString xvfb = QStandardPaths::findExecutable("Xvfb");
  if (xvfb.isEmpty()) return;
  // The server picks a free display number and writes it to standard
  // output once it accepts clients, so parallel test programs never race
  // for one number.
  process_.start(xvfb, {"-displayfd", "1", "-nolisten", "tcp"});
  if (!process_.waitForStarted(5000)) return;
  QByteArray out;
  (void)QTest::qWaitFor(
      [&] {
        out += process_.readAllStandardOutput();
        return out.contains('\n') || process_.state() != QProcess::Running;
      },
      30000);
  bool ok = false;
  const int number = out.trimmed().toInt(&ok);
  if (ok && process_.state() == QProcess::Running) name_ = ":" + std::to_string(number);
}

XServer::~XServer() {
  process_.terminate();
  process_.waitForFinished(5000);
}

bool XServer::Press(const std::string& keys) const {
  QProcess xdotool;
  QStringList env = QProcess::systemEnvironment();
  env << QString::fromStdString("DISPLAY=" + name_);
  xdotool.setEnvironment(env);
  xdotool.start("xdotool", {"key", QString::fromStdString(keys)});
  return xdotool.waitForFinished(10000) && xdotool.exitCode() == 0;
}

std::string XServer::MissingTools() {
  std::string missing;
  for (const char* tool : {"Xvfb", "xdotool"}) {
    if (QStandardPaths::findExecutable(tool).isEmpty()) {
      missing += missing.empty() ? tool : std::string(" and ") + tool;
    }
  }
  return missing;
}

}  // namespace velmar::testing
