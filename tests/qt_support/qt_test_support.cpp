#include "qt_test_support.h"

#include <QDir>
#include <QPixmap>
#include <cstdlib>

namespace velmar::testing {

void SaveShot(QWidget* widget, const QString& name) {
  const char* folder = std::getenv("VELMAR_UI_SHOTS");
  if (!folder || !*folder || !widget) return;
  QDir().mkpath(QString::fromLocal8Bit(folder));
  widget->grab().save(QString::fromLocal8Bit(folder) + QLatin1Char('/') + name + ".png");
}

}  // namespace velmar::testing
