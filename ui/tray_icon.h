#pragma once
// The tray icon of the desktop programs: shown and hidden on request, with a
// tooltip and a menu, reporting left and right clicks. Desktops without a
// tray are reported rather than silently ignored.

#include <QIcon>
#include <QObject>
#include <QString>

class QMenu;
class QSystemTrayIcon;

namespace velmar {

class TrayIcon : public QObject {
  Q_OBJECT
 public:
  explicit TrayIcon(const QIcon& icon, QObject* parent = nullptr);
  ~TrayIcon() override;

  static bool desktopHasTray();
  // False (and unavailable()) when the desktop has no tray.
  bool show();
  void hide();
  bool isShown() const;
  void setToolTip(const QString& text);
  QString toolTip() const;
  // The menu of a right click; the caller keeps it.
  void setMenu(QMenu* menu);
  QSystemTrayIcon* icon() const { return icon_; }

 Q_SIGNALS:
  void clicked();
  void rightClicked();
  void unavailable();

 private:
  QSystemTrayIcon* icon_;
};

}  // namespace velmar
