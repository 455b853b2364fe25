// The desktop seams: the boss key's text, the global hot key on a real X
// server (Xvfb, with xdotool pressing the keys), the tray icon where the
// desktop has none, and the start-up check for a display.

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <cstdlib>
#include <optional>

#include "qt_fixture.h"
#include "ui/display_check.h"
#include "ui/global_hot_key.h"
#include "ui/hot_key_text.h"
#include "ui/tray_icon.h"

#include <QSystemTrayIcon>

namespace velmar::testing {
namespace {

TEST(HotKeyText, ModifiersFromTheWordsAndTheKeyFromTheLastCharacter) {
  const HotKeySpec ctrl9 = ParseHotKey("CTRL + 9");
  EXPECT_TRUE(ctrl9.ctrl && !ctrl9.alt && ctrl9.key == '9');
  const HotKeySpec altF = ParseHotKey("ALT + F");
  EXPECT_TRUE(!altF.ctrl && altF.alt && altF.key == 'F');
  const HotKeySpec both = ParseHotKey("CTRL + ALT + F");
  EXPECT_TRUE(both.ctrl && both.alt && both.key == 'F');
  // Only modifiers, as the capture leaves them: no key.
  EXPECT_FALSE(ParseHotKey("CTRL + ").valid());
  EXPECT_FALSE(ParseHotKey("").valid());
  // Lower-case letters are other key codes, which the key never used.
  EXPECT_FALSE(ParseHotKey("CTRL + f").valid());
  EXPECT_FALSE(ParseHotKey("ctrl + F").ctrl);
}

// Sets an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(DisplayCheck, NoDisplayIsReportedAndEndsWithStatusTwo) {
  ScopedEnv platform("QT_QPA_PLATFORM", nullptr);
  ScopedEnv display("DISPLAY", nullptr);
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  EXPECT_FALSE(MissingDisplayReason().empty());
  {
    ScopedEnv badX("DISPLAY", ":987");  // nothing listens there
    EXPECT_NE(MissingDisplayReason().find(":987"), std::string::npos);
  }
  {
    ScopedEnv offscreen("QT_QPA_PLATFORM", "offscreen");
    EXPECT_TRUE(MissingDisplayReason().empty());
  }
  EXPECT_EXIT(ExitUnlessDisplayAvailable("tamarind"), ::testing::ExitedWithCode(2),
              "tamarind: no display");
}

TEST(GlobalHotKey, UnavailableWithoutDisplayAndInvalidWithoutKey) {
  ScopedEnv display("DISPLAY", nullptr);
  GlobalHotKey key;
  EXPECT_EQ(key.registerKey("CTRL + 9"), GlobalHotKey::Result::kUnavailable);
  EXPECT_EQ(key.registerKey("CTRL + "), GlobalHotKey::Result::kInvalid);
}

// A private X server for the key tests; skipped where Xvfb is missing.
class XServer {
 public:
  XServer() {
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    if (xvfb.isEmpty()) return;
    // The server picks a free display number and writes it to standard
    // output once it accepts clients.
    process_.start(xvfb, {"-displayfd", "1", "-nolisten", "tcp"});
    if (!process_.waitForStarted(5000)) return;
    QByteArray out;
    WaitUntil([&] {
      out += process_.readAllStandardOutput();
      return out.contains('\n') || process_.state() != QProcess::Running;
    });
    bool ok = false;
    const int number = out.trimmed().toInt(&ok);
    if (ok && process_.state() == QProcess::Running) name_ = ":" + std::to_string(number);
  }
  ~XServer() {
    process_.terminate();
    process_.waitForFinished(5000);
  }
  const std::string& name() const { return name_; }

  // Presses keys on this server; true when xdotool ran.
  bool Press(const std::string& keys) const {
    QProcess xdotool;
    QStringList env = QProcess::systemEnvironment();
    env << QString::fromStdString("DISPLAY=" + name_);
    xdotool.setEnvironment(env);
    xdotool.start("xdotool", {"key", QString::fromStdString(keys)});
    return xdotool.waitForFinished(10000) && xdotool.exitCode() == 0;
  }

 private:
  QProcess process_;
  std::string name_;
};

TEST(GlobalHotKey, FiresOnARealXServerWhateverTheLockKeys) {
  if (QStandardPaths::findExecutable("xdotool").isEmpty()) GTEST_SKIP() << "no xdotool";
  XServer server;
  if (server.name().empty()) GTEST_SKIP() << "no Xvfb";
  GlobalHotKey key(server.name());
  ASSERT_EQ(key.registerKey("CTRL + 9"), GlobalHotKey::Result::kRegistered);
  QSignalSpy fired(&key, &GlobalHotKey::activated);
  ASSERT_TRUE(server.Press("ctrl+9"));
  ASSERT_TRUE(WaitUntil([&] { return fired.count() == 1; }));
  // With Num Lock on, still.
  ASSERT_TRUE(server.Press("Num_Lock"));
  ASSERT_TRUE(server.Press("ctrl+9"));
  ASSERT_TRUE(WaitUntil([&] { return fired.count() == 2; }));
  ASSERT_TRUE(server.Press("Num_Lock"));
  // Other keys and the bare key do not fire it.
  ASSERT_TRUE(server.Press("9"));
  ASSERT_TRUE(server.Press("ctrl+8"));
  // A second program cannot take the same key.
  GlobalHotKey rival(server.name());
  EXPECT_EQ(rival.registerKey("CTRL + 9"), GlobalHotKey::Result::kRefused);
  // A new key replaces the old one.
  ASSERT_EQ(key.registerKey("CTRL + ALT + F"), GlobalHotKey::Result::kRegistered);
  ASSERT_TRUE(server.Press("ctrl+alt+f"));
  ASSERT_TRUE(WaitUntil([&] { return fired.count() == 3; }));
  EXPECT_EQ(rival.registerKey("CTRL + 9"), GlobalHotKey::Result::kRegistered);
}

TEST(TrayIcon, ReportsADesktopWithoutTrayAndForwardsClicks) {
  TrayIcon tray(QIcon{});
  QSignalSpy unavailable(&tray, &TrayIcon::unavailable);
  QSignalSpy clicked(&tray, &TrayIcon::clicked);
  QSignalSpy rightClicked(&tray, &TrayIcon::rightClicked);
  tray.setToolTip("3 Scripts");
  EXPECT_EQ(tray.toolTip(), "3 Scripts");
  if (!TrayIcon::desktopHasTray()) {  // the offscreen platform has none
    EXPECT_FALSE(tray.show());
    EXPECT_EQ(unavailable.count(), 1);
  }
  Q_EMIT tray.icon()->activated(QSystemTrayIcon::Trigger);
  Q_EMIT tray.icon()->activated(QSystemTrayIcon::Context);
  Q_EMIT tray.icon()->activated(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(clicked.count(), 1);
  EXPECT_EQ(rightClicked.count(), 1);
}

}  // namespace
}  // namespace velmar::testing
