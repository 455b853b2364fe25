#include "manager/script_list_model.h"

#include <QApplication>
#include <QColor>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QStyle>

#include <algorithm>

#include "manager/manager_texts.h"

namespace velmar {

ScriptListModel::ScriptListModel(QObject* parent) : QAbstractTableModel(parent) {
  repaint_.setSingleShot(true);
  repaint_.setInterval(kRepaintIntervalMs);
  connect(&repaint_, &QTimer::timeout, this, &ScriptListModel::flush);
}

int ScriptListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ScriptListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

namespace {

// The mark of a recording row: a small red dot, as recorders show it.
const QIcon& RecordMark() {
  static const QIcon mark = [] {
    QPixmap dot(12, 12);
    dot.fill(Qt::transparent);
    QPainter painter(&dot);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xd0, 0x20, 0x20));
    painter.drawEllipse(QRectF(2, 2, 8, 8));
    return QIcon(dot);
  }();
  return mark;
}

}  // namespace

QVariant ScriptListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= kColumns) return {};
  const Row& row = rows_[index.row()];
  if (index.column() == 0 && row.recording) {
    if (role == Qt::DecorationRole) return RecordMark();
    if (role == Qt::ToolTipRole) {
      QString tip = row.texts[0] + QLatin1Char('\n') + recordTip_;
      if (!row.lastError.isEmpty()) tip += QLatin1Char('\n') + row.lastError;
      return tip;
    }
  }
  const bool failed = index.column() == 4 && !row.error.isEmpty();
  // The state cell of a failed run tells the engine's report; every cell
  // adds where the last error happened, once the engine said so.
  if (role == Qt::ToolTipRole && (failed || !row.lastError.isEmpty())) {
    QString tip = failed ? row.error : row.texts[index.column()];
    if (!row.lastError.isEmpty()) tip += QLatin1Char('\n') + row.lastError;
    return tip;
  }
  if (failed && role == Qt::BackgroundRole) return QColor(0xf8, 0xd0, 0xd0);
  if (failed && role == Qt::ForegroundRole) return QColor(0xa0, 0x10, 0x10);
  if (failed && role == Qt::DecorationRole) {
    return QApplication::style()->standardIcon(QStyle::SP_MessageBoxCritical);
  }
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return row.texts[index.column()];
  return {};
}

void ScriptListModel::setLastError(int row, QString text) {
  if (row < 0 || row >= rowCount()) return;
  rows_[row].lastError = std::move(text);
  Q_EMIT dataChanged(index(row, 0), index(row, kColumns - 1), {Qt::ToolTipRole});
}

QString ScriptListModel::lastError(int row) const {
  return row >= 0 && row < rowCount() ? rows_[row].lastError : QString();
}

void ScriptListModel::setRecording(int row, bool on) {
  if (row < 0 || row >= rowCount() || rows_[row].recording == on) return;
  rows_[row].recording = on;
  const QModelIndex cell = index(row, 0);
  Q_EMIT dataChanged(cell, cell, {Qt::DecorationRole, Qt::ToolTipRole});
}

bool ScriptListModel::recording(int row) const {
  return row >= 0 && row < rowCount() && rows_[row].recording;
}

void ScriptListModel::setLastTrace(int row, QString file) {
  if (row < 0 || row >= rowCount()) return;
  rows_[row].lastTrace = std::move(file);
  rows_[row].traceLooked = true;
}

QString ScriptListModel::lastTrace(int row) const {
  return row >= 0 && row < rowCount() ? rows_[row].lastTrace : QString();
}

bool ScriptListModel::traceLooked(int row) const {
  return row >= 0 && row < rowCount() && rows_[row].traceLooked;
}

void ScriptListModel::forgetTrace(int row) {
  if (row < 0 || row >= rowCount()) return;
  rows_[row].lastTrace.clear();
  rows_[row].traceLooked = false;
}

void ScriptListModel::setTraceLooked(int row) {
  if (row >= 0 && row < rowCount()) rows_[row].traceLooked = true;
}

QVariant ScriptListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= kColumns) {
    return {};
  }
  return QString::fromUtf8(manager_text::kColumnHeaders[section]);
}

void ScriptListModel::appendRow(ScriptInstance* instance, const QString& name,
                                const QString& path) {
  const int row = rowCount();
  beginInsertRows({}, row, row);
  rows_.push_back({instance,
                   {name.left(kMaxCellChars), path.left(kMaxCellChars), QStringLiteral("0"),
                    QStringLiteral("0"), QStringLiteral("ready")},
                   QString(),
                   true,
                   QString(),
                   false,
                   QString(),
                   false});
  endInsertRows();
}

void ScriptListModel::setError(int row, const QString& reason) {
  if (row < 0 || row >= rowCount()) return;
  rows_[row].error = reason.left(kMaxCellChars);
  const QModelIndex cell = index(row, 4);
  Q_EMIT dataChanged(cell, cell);
}

QString ScriptListModel::error(int row) const {
  return row >= 0 && row < rowCount() ? rows_[row].error : QString();
}

bool ScriptListModel::showsPath(int row) const {
  return row >= 0 && row < rowCount() && rows_[row].pathShown;
}

void ScriptListModel::removeRowAt(int row) {
  if (row < 0 || row >= rowCount()) return;
  beginRemoveRows({}, row, row);
  rows_.erase(rows_.begin() + row);
  endRemoveRows();
  // Pending repaints refer to row numbers that have moved.
  if (dirtyFirst_ >= 0) {
    dirtyFirst_ = std::min(dirtyFirst_, std::max(0, rowCount() - 1));
    dirtyLast_ = std::min(dirtyLast_, rowCount() - 1);
    if (dirtyLast_ < dirtyFirst_) dirtyFirst_ = dirtyLast_ = -1;
  }
}

ScriptInstance* ScriptListModel::instanceAt(int row) const {
  return row >= 0 && row < rowCount() ? rows_[row].instance : nullptr;
}

QString ScriptListModel::text(int row, int column) const {
  if (row < 0 || row >= rowCount() || column < 0 || column >= kColumns) return {};
  return rows_[row].texts[column];
}

void ScriptListModel::setText(int row, int column, QString text) {
  if (row < 0 || row >= rowCount() || column < 0 || column >= kColumns) return;
  if (text.size() > kMaxCellChars) text.truncate(kMaxCellChars);
  if (column == 1) rows_[row].pathShown = false;
  QString& cell = rows_[row].texts[column];
  if (cell == text) return;
  cell = std::move(text);
  dirtyFirst_ = dirtyFirst_ < 0 ? row : std::min(dirtyFirst_, row);
  dirtyLast_ = std::max(dirtyLast_, row);
  if (!repaint_.isActive()) repaint_.start();
}

void ScriptListModel::flush() {
  repaint_.stop();
  if (dirtyFirst_ < 0) return;
  const int first = dirtyFirst_;
  const int last = dirtyLast_;
  dirtyFirst_ = dirtyLast_ = -1;
  Q_EMIT dataChanged(index(first, 1), index(last, kColumns - 1), {Qt::DisplayRole});
}

}  // namespace velmar
