#pragma once
// "参数配置": the pages 系统 (boss key, tray) and 运行 (browser, language,
// proxy, time-outs). The dialog only edits; the manager writes Config.ini
// from edit() when it is closed with OK.

#include <QDialog>
#include <string>

#include "manager/manager_settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QTabWidget;

namespace velmar {

class SettingsDialog : public QDialog {
  Q_OBJECT
 public:
  // `current` is the boss key in use: the page shows what is registered.
  SettingsDialog(const ManagerSettings& settings, const std::string& currentHotKey,
                 QWidget* parent = nullptr);
  ~SettingsDialog() override;

  SettingsEdit edit() const;

  QTabWidget* pages() const { return tabs_; }
  QRadioButton* currentKeyRadio() const { return currentKey_; }
  QRadioButton* changeKeyRadio() const { return changeKey_; }
  QLabel* currentKeyText() const { return currentKeyText_; }
  QLineEdit* capturedKey() const { return captured_; }
  QCheckBox* minimizeBox() const { return minimize_; }
  QCheckBox* closeToTrayBox() const { return closeToTray_; }
  QCheckBox* hideAllBox() const { return hideAll_; }
  QComboBox* browserList() const { return browser_; }
  QComboBox* languageList() const { return language_; }
  QLineEdit* proxyIpField() const { return proxyIp_; }
  QLineEdit* proxyPortField() const { return proxyPort_; }
  QCheckBox* useProxyBox() const { return useProxy_; }
  QLineEdit* sendTimeoutField() const { return sendTimeout_; }
  QLineEdit* recvTimeoutField() const { return recvTimeout_; }
  QCheckBox* useTimeoutsBox() const { return useTimeouts_; }
  bool runPageOpened() const { return runPageOpened_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* BuildSystemPage(const ManagerSettings& settings, const std::string& currentHotKey);
  QWidget* BuildRunPage(const ManagerSettings& settings);

  QTabWidget* tabs_;
  QWidget* systemPage_ = nullptr;
  QRadioButton* currentKey_ = nullptr;
  QRadioButton* changeKey_ = nullptr;
  QLabel* currentKeyText_ = nullptr;
  QLineEdit* captured_ = nullptr;
  QCheckBox* minimize_ = nullptr;
  QCheckBox* closeToTray_ = nullptr;
  QCheckBox* hideAll_ = nullptr;
  QComboBox* browser_ = nullptr;
  QComboBox* language_ = nullptr;
  QLineEdit* proxyIp_ = nullptr;
  QLineEdit* proxyPort_ = nullptr;
  QCheckBox* useProxy_ = nullptr;
  QLineEdit* sendTimeout_ = nullptr;
  QLineEdit* recvTimeout_ = nullptr;
  QCheckBox* useTimeouts_ = nullptr;
  bool runPageOpened_ = false;
};

// The captured text of one key press: "CTRL + " and "ALT + " for the
// modifiers held, then a letter or digit key (alone it counts as Ctrl).
std::string CaptureHotKey(Qt::KeyboardModifiers modifiers, int key);

}  // namespace velmar
