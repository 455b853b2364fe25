#include "ui/program_icon.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPixmap>

namespace velmar {

QIcon ProgramIcon(const QString& themeName, QChar letter, IconShape shape) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(QColor(0x8a, 0x4b, 0x1f));
  painter.setPen(Qt::NoPen);
  if (shape == IconShape::kRound) {
    painter.drawEllipse(2, 2, 28, 28);
  } else {
    painter.drawRoundedRect(1, 1, 30, 30, 6, 6);
  }
  painter.setPen(Qt::white);
  QFont font = painter.font();
  font.setBold(true);
  font.setPixelSize(20);
  painter.setFont(font);
  painter.drawText(pixmap.rect(), Qt::AlignCenter, QString(letter));
  painter.end();
  return QIcon::fromTheme(themeName, QIcon(pixmap));
}

}  // namespace velmar
