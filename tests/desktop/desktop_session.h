#pragma once
// A desktop for the tests, started before the application: a private X
// server (Xvfb), the openbox window manager and a trayer tray, so windows
// get frames, minimising and closing go through a real window manager, and
// tray icons have a tray. Input comes from xdotool as a person's would.

#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <string>
#include <sys/types.h>
#include <vector>

class QWidget;

namespace velmar::testing {

class DesktopSession {
 public:
  // Starts what is installed of the three; the display is used even when
  // the window manager or the tray is missing (their tests then skip).
  static void Start();
  static void Stop();

  // Which of the tools is missing ("Xvfb", "openbox", "trayer",
  // "xdotool"), empty when all are there.
  static std::string Missing();
  static bool HasTray();
  static const std::string& Display();

  // xdotool with these arguments; its standard output (trimmed).
  static QString Xdotool(const QStringList& arguments, bool* ok = nullptr);
  // The pointer moves to the global point and clicks there.
  static void ClickAt(QPoint global, int button = 1);
  static void MoveTo(QPoint global);
  static void Keys(const QString& keys);
  // The X window that holds the widget (its frame is the window manager's).
  static QString WindowId(const QWidget* widget);
  // Whether the window or one of its frames is mapped (viewable) on the
  // screen, as X says.
  static bool Viewable(const QWidget* widget);
  // A picture of the whole screen under $VELMAR_UI_SHOTS.
  static void Shot(const QString& name);
};

}  // namespace velmar::testing
