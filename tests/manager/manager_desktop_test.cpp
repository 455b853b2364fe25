// The regex tester, the help and site entries, the tray logic and
// the boss key (on a private X server, pressed with xdotool).

#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <cstdlib>
#include <optional>

#include "manager/regex_tester.h"
#include "manager_fixture.h"
#include "regex/named_regex.h"
#include "ui/display_check.h"
#include "ui/tray_icon.h"
#include "x_server.h"

namespace velmar::testing {
namespace {

using DesktopTest = ManagerTest;

TEST_F(DesktopTest, RegexTesterShowsTheSameReportAsTheCommandLine) {
  MainWindow& w = Window();
  w.menuAction(MainWindow::kRegexTest)->trigger();
  RegexTester* t = w.regexTester();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->windowTitle(), "正则表达式测试");
  EXPECT_EQ(t->testButton()->text(), "测试");
  EXPECT_EQ(t->closeButton()->text(), "关闭");
  t->contentField()->setPlainText("<td>甲</td><td>b</td>\n{1}-{2}");
  t->patternField()->setText("<td>{[^<]*}</td>");
  QTest::mouseClick(t->testButton(), Qt::LeftButton);
  const std::string expected = RegexTesterText(CodePage::Get(CodePage::kUtf8), "<td>{[^<]*}</td>",
                                               "<td>甲</td><td>b</td>\n{1}-{2}");
  EXPECT_EQ(expected, "count:2; groups:1;\r\n000 - 甲\r\n001 - b");
  EXPECT_EQ(t->resultField()->toPlainText(), "count:2; groups:1;\n000 - 甲\n001 - b");
  SaveShot(t, "manager_regex_tester");

  // Opening it again replaces the open one.
  QPointer<RegexTester> first = t;
  w.command(MainWindow::kRegexTest);
  EXPECT_TRUE(first.isNull());
  ASSERT_NE(w.regexTester(), nullptr);
  QTest::mouseClick(w.regexTester()->closeButton(), Qt::LeftButton);
  EXPECT_TRUE(WaitUntil([&] { return w.regexTester() == nullptr; }));
}

TEST(RegexTesterPlacement, OpensAtTheCursorAndStaysOnTheScreen) {
  const QRect screen(0, 0, 1024, 768);
  const QSize size(400, 300);
  EXPECT_EQ(RegexTester::Placement({100, 50}, size, screen), QPoint(100, 50));
  // Near the right edge: moved left; near the bottom: 30 pixels kept free.
  EXPECT_EQ(RegexTester::Placement({900, 700}, size, screen), QPoint(624, 438));
  // On a second screen to the right.
  EXPECT_EQ(RegexTester::Placement({2000, 10}, size, QRect(1024, 0, 1280, 1024)), QPoint(1904, 10));
  // Larger than the screen: the top-left corner stays on it.
  EXPECT_EQ(RegexTester::Placement({10, 10}, {2000, 2000}, screen), QPoint(0, 0));
}

TEST_F(DesktopTest, HelpAndSiteEntries) {
  MainWindow& w = Window();
  w.programFolder = QString::fromStdString((dir.path() / "bin").string());
  dir.Write("share/velmar/manual/index.html", "<html></html>");
  w.menuAction(MainWindow::kManual)->trigger();
  ASSERT_EQ(urls.size(), 1u);
  EXPECT_TRUE(urls[0].isLocalFile());
  EXPECT_TRUE(urls[0].toLocalFile().endsWith("share/velmar/manual/index.html"));
  EXPECT_TRUE(QFile::exists(urls[0].toLocalFile()));

  w.menuAction(MainWindow::kWebSite)->trigger();
  ASSERT_EQ(urls.size(), 2u);
  EXPECT_EQ(urls[1], QUrl("https://velmar.org/"));

  // Without a manual anywhere: a message, nothing opened.
  std::filesystem::remove_all(dir.path() / "share");
  w.programFolder = QString::fromStdString((dir.path() / "elsewhere").string());
  const std::size_t opened = urls.size();
  w.command(MainWindow::kManual);
  // The manual the build rendered may still be found; otherwise a message.
  if (urls.size() == opened) {
    EXPECT_NE(w.lastMessage().indexOf("使用手册"), -1);
  }
}

// The offscreen platform and Xvfb run no tray; trayAvailable stands in for
// a desktop that has one, so the manager's own flag logic can be checked.
TEST_F(DesktopTest, TrayFlagsOnMinimiseCloseClickAndBossKey) {
  MainWindow& w = Window();
  w.trayAvailable = [] { return true; };
  Add("a", "show a\n");
  Add("b", "show b\n");
  EXPECT_EQ(w.tray().toolTip(), "2 Scripts");

  w.showMinimized();
  ASSERT_TRUE(WaitUntil([&] { return w.trayShown() && !w.isVisible(); }));
  EXPECT_TRUE(w.visibleFlag());  // hiding to the tray keeps the flag
  Q_EMIT w.tray().clicked();
  EXPECT_FALSE(w.trayShown());
  EXPECT_TRUE(w.isVisible());

  w.close();  // closeto=1: to the tray
  EXPECT_TRUE(w.trayShown());
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(quits, 0);
  // From the tray, the first boss-key press removes the icon, the second
  // shows the window.
  w.bossKey();
  EXPECT_FALSE(w.trayShown());
  EXPECT_FALSE(w.isVisible());
  w.bossKey();
  EXPECT_TRUE(w.isVisible());
  // Boss key without the tray: hide, show.
  w.bossKey();
  EXPECT_FALSE(w.isVisible());
  w.bossKey();
  EXPECT_TRUE(w.isVisible());

  // The tray menu's show entry.
  w.close();
  ASSERT_TRUE(w.trayShown());
  w.trayMenu()->actions()[0]->trigger();
  EXPECT_FALSE(w.trayShown());
  EXPECT_TRUE(w.isVisible());
}

TEST_F(DesktopTest, WithoutATrayMinimiseIsNormalAndCloseExits) {
  MainWindow& w = Window();
  w.trayAvailable = [] { return false; };
  w.showMinimized();
  QTest::qWait(50);
  EXPECT_FALSE(w.trayShown());
  w.showNormal();
  w.close();
  EXPECT_EQ(quits, 1);
  EXPECT_FALSE(w.trayShown());
}

TEST_F(DesktopTest, HideEverythingWithoutABossKeyFallsBackToExit) {
  dir.Write("Config.ini", "[setting]\ncloseto=2\nhotkey=CTRL + \n");
  MainWindow& w = Window();
  w.close();
  EXPECT_EQ(quits, 1);
}

TEST_F(DesktopTest, BossKeyOnARealXServerHidesAndShowsAndCloseToHideAll) {
  if (const std::string missing = XServer::MissingTools(); !missing.empty()) {
    VELMAR_SKIP_WITHOUT(missing);
  }
  XServer server;
  ASSERT_FALSE(server.name().empty()) << "Xvfb did not start";
  ScopedEnv display("DISPLAY", server.name().c_str());
  // The window's own X connection goes before the server does.
  const auto closeFirst = qScopeGuard([this] { window.reset(); });
  dir.Write("Config.ini", "[setting]\nhotkey=CTRL + ALT + 8\ncloseto=2\n");
  MainWindow& w = Window();
  ASSERT_EQ(w.hotKey().status(), GlobalHotKey::Result::kRegistered);
  ASSERT_TRUE(w.isVisible());
  ASSERT_TRUE(server.Press("ctrl+alt+8"));
  ASSERT_TRUE(WaitUntil([&] { return !w.isVisible(); }));
  EXPECT_FALSE(w.visibleFlag());
  ASSERT_TRUE(server.Press("ctrl+alt+8"));
  ASSERT_TRUE(WaitUntil([&] { return w.isVisible(); }));

  // closeto=2: closing hides everything; one press brings it back.
  w.close();
  EXPECT_FALSE(w.isVisible());
  EXPECT_FALSE(w.trayShown());
  EXPECT_EQ(quits, 0);
  ASSERT_TRUE(server.Press("ctrl+alt+8"));
  ASSERT_TRUE(WaitUntil([&] { return w.isVisible(); }));

  // The settings dialog lets the key go while it is open (the page captures
  // it) and takes it back when it closes.
  w.command(MainWindow::kSettings);
  QTest::qWait(50);
  ASSERT_TRUE(server.Press("ctrl+alt+8"));
  QTest::qWait(200);
  EXPECT_TRUE(w.isVisible());
  w.settingsDialog()->reject();
  ASSERT_TRUE(WaitUntil([&] { return w.settingsDialog() == nullptr; }));
  EXPECT_EQ(w.hotKey().status(), GlobalHotKey::Result::kRegistered);
  ASSERT_TRUE(server.Press("ctrl+alt+8"));
  ASSERT_TRUE(WaitUntil([&] { return !w.isVisible(); }));
}

}  // namespace
}  // namespace velmar::testing
