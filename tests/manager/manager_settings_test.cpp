// Config.ini as the manager reads and writes it, the settings dialog's pages
// and the settings handed to scripts added afterwards.

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>

#include "http/http_client.h"
#include "manager/settings_dialog.h"
#include "manager_fixture.h"

namespace velmar::testing {
namespace {

using SettingsTest = ManagerTest;

void Press(SettingsDialog* dialog, const QString& caption) {
  for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
    if (b->text() == caption) {
      QTest::mouseClick(b, Qt::LeftButton);
      return;
    }
  }
  ADD_FAILURE() << caption.toStdString();
}

TEST_F(SettingsTest, DefaultsWithoutConfigIniAndThePageShowsTheRegisteredKey) {
  MainWindow& w = Window();
  const ManagerSettings& s = w.settings();
  EXPECT_EQ(w.registeredHotKey(), "CTRL + 9");
  EXPECT_TRUE(s.minimizeToTray);
  EXPECT_TRUE(s.closeToTray);
  EXPECT_FALSE(s.hideOnClose);
  EXPECT_EQ(s.browser, "Internet Explorer 6.0");
  EXPECT_EQ(s.proxyIp, "127.0.0.1");
  EXPECT_EQ(s.proxyPort, 80);
  EXPECT_FALSE(s.useProxy);
  EXPECT_FALSE(s.useTimeouts);

  w.menuAction(MainWindow::kSettings)->trigger();
  SettingsDialog* d = w.settingsDialog();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->windowTitle(), "参数配置");
  EXPECT_EQ(d->pages()->tabText(0), "系统");
  EXPECT_EQ(d->pages()->tabText(1), "运行");
  EXPECT_TRUE(d->currentKeyRadio()->isChecked());
  EXPECT_EQ(d->changeKeyRadio()->text(), "更改热键");
  // What is registered, not a page default that would replace it unasked.
  EXPECT_EQ(d->currentKeyText()->text(), "CTRL + 9");
  EXPECT_EQ(d->minimizeBox()->text(), "最小化时到托盘");
  EXPECT_EQ(d->closeToTrayBox()->text(), "关闭时到托盘");
  EXPECT_EQ(d->hideAllBox()->text(), "关闭时全部隐藏, 必需以老板键才能调出");
  EXPECT_TRUE(d->minimizeBox()->isChecked());
  EXPECT_TRUE(d->closeToTrayBox()->isChecked());
  EXPECT_FALSE(d->hideAllBox()->isChecked());
  SaveShot(d, "manager_settings_system");

  // The two close boxes exclude each other.
  d->hideAllBox()->click();
  EXPECT_TRUE(d->hideAllBox()->isChecked());
  EXPECT_FALSE(d->closeToTrayBox()->isChecked());
  d->closeToTrayBox()->click();
  EXPECT_FALSE(d->hideAllBox()->isChecked());

  d->pages()->setCurrentIndex(1);
  QStringList browsers;
  for (int i = 0; i < d->browserList()->count(); ++i) browsers << d->browserList()->itemText(i);
  EXPECT_EQ(browsers,
            QStringList({"Chrome/0.2.149.27", "Firefox/1.5.0.12", "Firefox/2.0.0.3",
                         "Firefox/3.0.1", "Internet Explorer 5.0", "Internet Explorer 6.0",
                         "Internet Explorer 7.0", "Internet Explorer 8.0", "Opera/8.0",
                         "Opera/9.27", "Safari/419.3", "Safari/525.13", "Tamarind/1.3.1"}));
  EXPECT_EQ(d->browserList()->currentText(), "Internet Explorer 6.0");
  EXPECT_EQ(d->languageList()->count(), 2);
  EXPECT_EQ(d->languageList()->itemText(1), "us-en");
  EXPECT_EQ(d->proxyIpField()->text(), "127.0.0.1");
  EXPECT_EQ(d->proxyPortField()->text(), "80");
  EXPECT_EQ(d->sendTimeoutField()->text(), "0");
  // Proxy and time-out fields follow their boxes at once.
  EXPECT_FALSE(d->proxyIpField()->isEnabled());
  EXPECT_FALSE(d->proxyPortField()->isEnabled());
  EXPECT_FALSE(d->recvTimeoutField()->isEnabled());
  d->useProxyBox()->click();
  EXPECT_TRUE(d->proxyIpField()->isEnabled());
  EXPECT_TRUE(d->proxyPortField()->isEnabled());
  EXPECT_FALSE(d->sendTimeoutField()->isEnabled());
  d->useTimeoutsBox()->click();
  EXPECT_TRUE(d->sendTimeoutField()->isEnabled());
  EXPECT_TRUE(d->recvTimeoutField()->isEnabled());
  d->useProxyBox()->click();
  EXPECT_FALSE(d->proxyIpField()->isEnabled());
  SaveShot(d, "manager_settings_run");

  // Cancel writes nothing and keeps the key.
  Press(d, "取消");
  EXPECT_TRUE(WaitUntil([&] { return w.settingsDialog() == nullptr; }));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "Config.ini"));
  EXPECT_EQ(w.registeredHotKey(), "CTRL + 9");
}

TEST_F(SettingsTest, OkWritesTheSystemKeysAndTheRunPageOnlyWhenItWasOpened) {
  MainWindow& w = Window();
  w.command(MainWindow::kSettings);
  SettingsDialog* d = w.settingsDialog();
  d->minimizeBox()->click();
  d->hideAllBox()->click();
  // Only a modifier with a key that is no letter or digit: never saved.
  d->changeKeyRadio()->click();
  QTest::keyClick(d->minimizeBox(), Qt::Key_F5, Qt::ControlModifier);
  EXPECT_EQ(d->capturedKey()->text(), "CTRL + ");
  Press(d, "确定");
  ASSERT_TRUE(WaitUntil([&] { return w.settingsDialog() == nullptr; }));
  EXPECT_EQ(ConfigBytes(), "[setting]\r\nminitotray=0\r\ncloseto=2\r\n");
  EXPECT_FALSE(w.settings().minimizeToTray);
  EXPECT_TRUE(w.settings().hideOnClose);
  EXPECT_FALSE(w.settings().closeToTray);
  EXPECT_EQ(w.registeredHotKey(), "CTRL + 9");
}

TEST_F(SettingsTest, ARoundTripWritesEveryKeyAndNewScriptsGetTheSettingsRunningOnesKeepTheirs) {
  MainWindow& w = Window();
  ScriptInstance* before = Add("before", "<main>\nwhile (1)\n{\n  pause 20\n}\n");
  w.selectRows({0});
  Click(MainWindow::kRunScript);

  w.command(MainWindow::kSettings);
  SettingsDialog* d = w.settingsDialog();
  d->changeKeyRadio()->click();
  // Keys pressed anywhere on the page build the text.
  QTest::keyClick(d->minimizeBox(), Qt::Key_F, Qt::ControlModifier | Qt::AltModifier);
  EXPECT_EQ(d->capturedKey()->text(), "CTRL + ALT + F");
  QTest::keyClick(d->minimizeBox(), Qt::Key_7);
  EXPECT_EQ(d->capturedKey()->text(), "CTRL + 7");
  QTest::keyClick(d->minimizeBox(), Qt::Key_Q, Qt::AltModifier);
  EXPECT_EQ(d->capturedKey()->text(), "ALT + Q");
  d->closeToTrayBox()->click();  // off; hide-all stays off: closeto=0
  d->pages()->setCurrentIndex(1);
  d->browserList()->setCurrentText("Opera/9.27");
  d->languageList()->setCurrentText("us-en");
  d->useProxyBox()->click();
  d->proxyIpField()->setText("10.1.2.3");
  d->proxyPortField()->setText("8080");
  d->useTimeoutsBox()->click();
  d->sendTimeoutField()->setText("1500");
  d->recvTimeoutField()->setText("2500x");
  d->pages()->setCurrentIndex(0);
  Press(d, "确定");
  ASSERT_TRUE(WaitUntil([&] { return w.settingsDialog() == nullptr; }));
  EXPECT_EQ(ConfigBytes(),
            "[setting]\r\nhotkey=ALT + Q\r\nminitotray=1\r\ncloseto=0\r\nbrowser=Opera/9.27\r\n"
            "useragent=Opera/9.27 (Windows NT 5.2; U; zh-cn)\r\nlan=us-en\r\nproxyip=10.1.2.3\r\n"
            "proxyport=8080\r\nuseproxy=1\r\nsendtimeout=1500\r\nrecvtimeout=2500\r\n"
            "settimeout=1\r\n");
  EXPECT_EQ(w.registeredHotKey(), "ALT + Q");

  ScriptInstance* after = Add("after", "show x\n");
  EXPECT_EQ(after->http.proxyAddress(), "10.1.2.3");
  EXPECT_EQ(after->http.proxyPort(), 8080);
  EXPECT_EQ(after->http.sendTimeout(), 1500);
  EXPECT_EQ(after->http.receiveTimeout(), 2500);
  EXPECT_EQ(after->http.userAgent(), "Opera/9.27 (Windows NT 5.2; U; zh-cn)");
  EXPECT_EQ(after->http.acceptLanguage(), "us-en");
  // The running script keeps what it got.
  EXPECT_EQ(before->http.proxyAddress(), "");
  EXPECT_EQ(before->http.userAgent(), "Tamarind/1.4 (https://velmar.org/)");
  w.selectRows({0});
  Click(MainWindow::kStopScript);
  ASSERT_TRUE(WaitUntil([&] { return !before->worker.alive(); }));

  // The same key again is not written a second time; the page shows it.
  w.command(MainWindow::kSettings);
  d = w.settingsDialog();
  EXPECT_EQ(d->currentKeyText()->text(), "ALT + Q");
  EXPECT_EQ(d->browserList()->currentText(), "Opera/9.27");
  EXPECT_TRUE(d->proxyIpField()->isEnabled());
  Press(d, "取消");
}

TEST_F(SettingsTest, BadConfigValuesAreCutDefaultedOrReadAsLeadingNumbers) {
  const std::string longAgent(150, 'a');
  dir.Write("Config.ini", "[setting]\nuseragent=" + longAgent +
                              "\nproxyport=80abc\nsendtimeout=junk\nrecvtimeout=-5\n"
                              "useproxy=yes\nsettimeout=1\ncloseto=2\nhotkey=SHIFT + \n");
  MainWindow& w = Window();
  EXPECT_EQ(w.settings().userAgent, std::string(99, 'a'));
  EXPECT_EQ(w.settings().proxyPort, 80);
  EXPECT_EQ(w.settings().sendTimeout, 0);
  EXPECT_EQ(w.settings().recvTimeout, -5);
  EXPECT_FALSE(w.settings().useProxy);  // only "1" is on
  EXPECT_TRUE(w.settings().useTimeouts);
  EXPECT_TRUE(w.settings().hideOnClose);
  EXPECT_FALSE(w.settings().closeToTray);
  // A key text naming no key registers nothing and breaks nothing.
  EXPECT_EQ(w.registeredHotKey(), "SHIFT +");
  EXPECT_NE(w.hotKey().status(), GlobalHotKey::Result::kRegistered);
}

TEST_F(SettingsTest, AConfigWithoutTheSettingSectionGivesTheDefaults) {
  dir.Write("Config.ini", "[other]\nhotkey=ALT + 1\nlan=en\n\x01\x02\xff garbage\n");
  MainWindow& w = Window();
  EXPECT_EQ(w.registeredHotKey(), "CTRL + 9");
  EXPECT_EQ(w.settings().language, "zh-cn");
}

TEST(HotKeyCapture, ModifiersLettersAndDigits) {
  EXPECT_EQ(CaptureHotKey(Qt::ControlModifier, Qt::Key_Control), "CTRL + ");
  EXPECT_EQ(CaptureHotKey(Qt::AltModifier, Qt::Key_Alt), "ALT + ");
  EXPECT_EQ(CaptureHotKey(Qt::NoModifier, Qt::Key_A), "CTRL + A");
  EXPECT_EQ(CaptureHotKey(Qt::AltModifier, Qt::Key_0), "ALT + 0");
  EXPECT_EQ(CaptureHotKey(Qt::ControlModifier | Qt::AltModifier, Qt::Key_Z), "CTRL + ALT + Z");
  EXPECT_EQ(CaptureHotKey(Qt::NoModifier, Qt::Key_F5), "");
  EXPECT_FALSE(IsCompleteHotKey("CTRL + "));
  EXPECT_FALSE(IsCompleteHotKey(""));
  EXPECT_TRUE(IsCompleteHotKey("CTRL + A"));
}

}  // namespace
}  // namespace velmar::testing
