#pragma once
// The rows of the script list: name, latest message, successes, failures,
// state. Scripts rewrite columns 1 to 4 as often as they like; the texts are
// stored at once and the view is told about changed rows at most every
// kRepaintIntervalMs, so a thousand scripts calling `show` in a loop cost one
// repaint per interval instead of one per request.

#include <QAbstractTableModel>
#include <QString>
#include <QTimer>
#include <array>
#include <vector>

namespace velmar {

struct ScriptInstance;

class ScriptListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  static constexpr int kColumns = 5;
  static constexpr int kRepaintIntervalMs = 40;
  // Longest text a cell keeps: nobody reads more in one row, and laying out
  // megabytes would hold the UI thread.
  static constexpr int kMaxCellChars = 2048;

  explicit ScriptListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  void appendRow(ScriptInstance* instance, const QString& name, const QString& path);
  void removeRowAt(int row);
  ScriptInstance* instanceAt(int row) const;
  QString text(int row, int column) const;
  // Stores the text now; the view hears of it with the next repaint.
  void setText(int row, int column, QString text);
  // Tells the view about every changed row now.
  void flush();
  // The script of the row ended on an error: its state cell is marked and
  // its tip gives `reason` (the engine's error text).
  void setError(int row, const QString& reason);
  QString error(int row) const;
  // Whether column 1 still shows the script's path (cut in the middle when
  // too long, so the file name stays visible).
  bool showsPath(int row) const;
  // The position and reason of the row's last script error, shown in the
  // row's tooltip under its cell text; empty until one happens.
  void setLastError(int row, QString text);
  QString lastError(int row) const;
  // Whether the row's runs are recorded: its name cell then carries a red
  // mark and a tip that says where the traces go (`recordTip`).
  void setRecording(int row, bool on);
  bool recording(int row) const;
  void setRecordTip(QString tip) { recordTip_ = std::move(tip); }
  // The row's latest trace file, once it has one; `looked` tells whether the
  // trace folder was searched for it already.
  void setLastTrace(int row, QString file);
  QString lastTrace(int row) const;
  bool traceLooked(int row) const;
  void setTraceLooked(int row);
  // The trace is gone: the folder is searched again next time.
  void forgetTrace(int row);

 private:
  struct Row {
    ScriptInstance* instance;
    std::array<QString, kColumns> texts;
    QString error;
    bool pathShown = true;
    QString lastError;
    bool recording = false;
    QString lastTrace;
    bool traceLooked = false;
  };
  std::vector<Row> rows_;
  QString recordTip_;
  int dirtyFirst_ = -1;
  int dirtyLast_ = -1;
  QTimer repaint_;
};

}  // namespace velmar
