#include "ui/tray_icon.h"

#include <QMenu>
#include <QSystemTrayIcon>

namespace velmar {

TrayIcon::TrayIcon(const QIcon& icon, QObject* parent)
    : QObject(parent), icon_(new QSystemTrayIcon(icon, this)) {
  connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
    if (why == QSystemTrayIcon::Trigger) Q_EMIT clicked();
    if (why == QSystemTrayIcon::Context) Q_EMIT rightClicked();
  });
}

TrayIcon::~TrayIcon() = default;

bool TrayIcon::desktopHasTray() {
  return QSystemTrayIcon::isSystemTrayAvailable();
}

bool TrayIcon::show() {
  if (!desktopHasTray()) {
    Q_EMIT unavailable();
    return false;
  }
  icon_->show();
  return true;
}

void TrayIcon::hide() {
  icon_->hide();
}

bool TrayIcon::isShown() const {
  return icon_->isVisible();
}

void TrayIcon::setToolTip(const QString& text) {
  icon_->setToolTip(text);
}

QString TrayIcon::toolTip() const {
  return icon_->toolTip();
}

void TrayIcon::setMenu(QMenu* menu) {
  icon_->setContextMenu(menu);
}

}  // namespace velmar
