#pragma once
// The window "view last run" opens: the page `velmar trace view` writes for
// a trace, shown inside the manager. The page's own script (its search,
// filters and lists) runs; nothing else does: the page comes from a private
// folder of this window, its browser profile keeps nothing on the disk,
// every request that is not the page itself is refused (the page needs no
// network), no link leaves the page and no new window opens.

#include <QString>
#include <string>
#include <QTemporaryDir>
#include <QUrl>
#include <QWidget>

class QWebEngineProfile;
class QWebEngineView;

namespace velmar {

class TraceViewer : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kInitialWidth = 960;
  static constexpr int kInitialHeight = 640;
  static constexpr int kMinimumWidth = 480;
  static constexpr int kMinimumHeight = 320;

  explicit TraceViewer(QWidget* parent = nullptr);
  ~TraceViewer() override;

  // Reads the trace and makes its page away from the window's thread (a
  // trace of many requests takes seconds), then loads it: `ready` comes
  // with the number of damaged lines that were left out (the rest is
  // shown), or `failed` with the reason in English when the file cannot be
  // read or is no trace. A later call takes the place of one under way.
  void showTrace(const QString& traceFile, const QString& scriptName);

  QWebEngineView* view() const { return view_; }
  QString shownTrace() const { return shownTrace_; }
  // The page's address: a file in this window's private folder.
  QUrl pageUrl() const { return pageUrl_; }

 Q_SIGNALS:
  void ready(int problems);
  void failed(const QString& error);
  void pageLoaded(bool ok);

 private:
  void PageMade(quint64 request, const QString& traceFile, const QString& scriptName,
                const std::string& html, int problems, const QString& error);

  QTemporaryDir folder_;
  QUrl pageUrl_;
  QWebEngineProfile* profile_ = nullptr;
  QWebEngineView* view_ = nullptr;
  QString shownTrace_;
  quint64 requests_ = 0;
};

}  // namespace velmar
