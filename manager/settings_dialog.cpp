#include "manager/settings_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

#include "manager/manager_texts.h"
#include "values/text_file_ops.h"

namespace velmar {
namespace {

int FieldNumber(const QLineEdit* field) {
  const long long value = LeadingInteger(field->text().toStdString());
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

QString Utf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool IsInside(const QObject* object, const QObject* ancestor) {
  for (; object; object = object->parent()) {
    if (object == ancestor) return true;
  }
  return false;
}

}  // namespace

std::string CaptureHotKey(Qt::KeyboardModifiers modifiers, int key) {
  std::string text;
  if (modifiers & Qt::ControlModifier) text += "CTRL + ";
  if (modifiers & Qt::AltModifier) text += "ALT + ";
  const bool letter = key >= Qt::Key_A && key <= Qt::Key_Z;
  const bool digit = key >= Qt::Key_0 && key <= Qt::Key_9;
  if (letter || digit) {
    if (text.empty()) text = "CTRL + ";
    text += static_cast<char>(key);  // Qt's codes of these keys are their characters
  }
  return text;
}

SettingsDialog::SettingsDialog(const ManagerSettings& settings, const std::string& currentHotKey,
                               QWidget* parent)
    : QDialog(parent), tabs_(new QTabWidget(this)) {
  setWindowTitle(QString::fromUtf8(manager_text::kSettingsTitle));
  systemPage_ = BuildSystemPage(settings, currentHotKey);
  tabs_->addTab(systemPage_, QString::fromUtf8(manager_text::kSystemPage));
  tabs_->addTab(BuildRunPage(settings), QString::fromUtf8(manager_text::kRunPage));
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
    if (index == 1) runPageOpened_ = true;
  });
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QString::fromUtf8(manager_text::kOk), QDialogButtonBox::AcceptRole);
  buttons->addButton(QString::fromUtf8(manager_text::kCancel), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(buttons);
  // Key presses anywhere on the system page reach the capture first.
  qApp->installEventFilter(this);
}

SettingsDialog::~SettingsDialog() {
  qApp->removeEventFilter(this);
}

QWidget* SettingsDialog::BuildSystemPage(const ManagerSettings& settings,
                                         const std::string& currentHotKey) {
  auto* page = new QWidget;
  auto* keyBox = new QGroupBox(QString::fromUtf8(manager_text::kBossKey), page);
  currentKey_ = new QRadioButton(QString::fromUtf8(manager_text::kCurrentKey), keyBox);
  changeKey_ = new QRadioButton(QString::fromUtf8(manager_text::kChangeKey), keyBox);
  currentKeyText_ = new QLabel(Utf8(currentHotKey), keyBox);
  captured_ = new QLineEdit(keyBox);
  captured_->setReadOnly(true);
  captured_->setFocusPolicy(Qt::NoFocus);
  currentKey_->setChecked(true);
  auto* keyGrid = new QGridLayout(keyBox);
  keyGrid->addWidget(currentKey_, 0, 0);
  keyGrid->addWidget(currentKeyText_, 0, 1);
  keyGrid->addWidget(changeKey_, 1, 0);
  keyGrid->addWidget(captured_, 1, 1);
  keyGrid->setColumnStretch(1, 1);

  minimize_ = new QCheckBox(QString::fromUtf8(manager_text::kMinimizeToTray), page);
  closeToTray_ = new QCheckBox(QString::fromUtf8(manager_text::kCloseToTray), page);
  hideAll_ = new QCheckBox(QString::fromUtf8(manager_text::kHideAll), page);
  minimize_->setChecked(settings.minimizeToTray);
  closeToTray_->setChecked(settings.closeToTray);
  hideAll_->setChecked(settings.hideOnClose);
  connect(closeToTray_, &QCheckBox::toggled, this, [this](bool on) {
    if (on) hideAll_->setChecked(false);
  });
  connect(hideAll_, &QCheckBox::toggled, this, [this](bool on) {
    if (on) closeToTray_->setChecked(false);
  });

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(keyBox);
  layout->addWidget(minimize_);
  layout->addWidget(closeToTray_);
  layout->addWidget(hideAll_);
  layout->addStretch(1);
  return page;
}

QWidget* SettingsDialog::BuildRunPage(const ManagerSettings& settings) {
  auto* page = new QWidget;
  browser_ = new QComboBox(page);
  for (const auto& [name, agent] : BrowserPresets()) browser_->addItem(Utf8(name));
  int selected = browser_->findText(Utf8(settings.browser));
  if (selected < 0) selected = browser_->findText(QString::fromUtf8(kDefaultBrowser));
  browser_->setCurrentIndex(selected);

  language_ = new QComboBox(page);
  language_->addItems({QStringLiteral("zh-cn"), QStringLiteral("us-en")});
  const QString language = Utf8(settings.language);
  if (language_->findText(language) < 0) language_->addItem(language);
  language_->setCurrentIndex(language_->findText(language));

  proxyIp_ = new QLineEdit(Utf8(settings.proxyIp), page);
  proxyPort_ = new QLineEdit(QString::number(settings.proxyPort), page);
  useProxy_ = new QCheckBox(QString::fromUtf8(manager_text::kUseProxy), page);
  sendTimeout_ = new QLineEdit(QString::number(settings.sendTimeout), page);
  recvTimeout_ = new QLineEdit(QString::number(settings.recvTimeout), page);
  useTimeouts_ = new QCheckBox(QString::fromUtf8(manager_text::kUseTimeouts), page);
  useProxy_->setChecked(settings.useProxy);
  useTimeouts_->setChecked(settings.useTimeouts);
  proxyIp_->setMaxLength(99);
  proxyPort_->setMaxLength(10);
  sendTimeout_->setMaxLength(10);
  recvTimeout_->setMaxLength(10);

  auto enableProxy = [this](bool on) {
    proxyIp_->setEnabled(on);
    proxyPort_->setEnabled(on);
  };
  auto enableTimeouts = [this](bool on) {
    sendTimeout_->setEnabled(on);
    recvTimeout_->setEnabled(on);
  };
  enableProxy(settings.useProxy);
  enableTimeouts(settings.useTimeouts);
  connect(useProxy_, &QCheckBox::toggled, this, enableProxy);
  connect(useTimeouts_, &QCheckBox::toggled, this, enableTimeouts);

  auto* form = new QFormLayout;
  form->addRow(QString::fromUtf8(manager_text::kBrowser), browser_);
  form->addRow(QString::fromUtf8(manager_text::kLanguage), language_);
  auto* proxyRow = new QHBoxLayout;
  proxyRow->addWidget(proxyIp_, 1);
  proxyRow->addWidget(new QLabel(QString::fromUtf8(manager_text::kProxyPort), page));
  proxyRow->addWidget(proxyPort_);
  form->addRow(QString::fromUtf8(manager_text::kProxyIp), proxyRow);
  form->addRow(QString(), useProxy_);
  form->addRow(QString::fromUtf8(manager_text::kSendTimeout), sendTimeout_);
  form->addRow(QString::fromUtf8(manager_text::kRecvTimeout), recvTimeout_);
  auto* timeoutRow = new QHBoxLayout;
  timeoutRow->addWidget(useTimeouts_);
  timeoutRow->addStretch(1);
  timeoutRow->addWidget(new QLabel(QString::fromUtf8(manager_text::kTimeoutUnit), page));
  form->addRow(QString(), timeoutRow);
  auto* layout = new QVBoxLayout(page);
  layout->addLayout(form);
  layout->addStretch(1);
  return page;
}

bool SettingsDialog::eventFilter(QObject* watched, QEvent* event) {
  if ((event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) &&
      changeKey_->isChecked() && tabs_->currentWidget() == systemPage_ && IsInside(watched, this)) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (event->type() == QEvent::KeyPress) {
      captured_->setText(QString::fromStdString(CaptureHotKey(key->modifiers(), key->key())));
    }
    event->accept();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

SettingsEdit SettingsDialog::edit() const {
  SettingsEdit e;
  e.changeHotKey = changeKey_->isChecked();
  e.capturedHotKey = captured_->text().toStdString();
  e.minimizeToTray = minimize_->isChecked();
  e.closeToTray = closeToTray_->isChecked();
  e.hideOnClose = hideAll_->isChecked();
  e.runPageOpened = runPageOpened_;
  e.browser = browser_->currentText().toStdString();
  e.language = language_->currentText().toStdString();
  e.proxyIp = proxyIp_->text().toStdString();
  e.proxyPort = FieldNumber(proxyPort_);
  e.useProxy = useProxy_->isChecked();
  e.sendTimeout = FieldNumber(sendTimeout_);
  e.recvTimeout = FieldNumber(recvTimeout_);
  e.useTimeouts = useTimeouts_->isChecked();
  return e;
}

}  // namespace velmar
