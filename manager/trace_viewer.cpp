#include "manager/trace_viewer.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThreadPool>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include "manager/manager_texts.h"
#include "platform/durable_file.h"
#include "tooling/trace_reader.h"
#include "tooling/trace_view.h"

namespace velmar {
namespace {

// Lets through the page itself and what it makes for itself (its images as
// data addresses, the sandboxed frame of a response shown as HTML); a
// recorded page's links, images or scripts never reach the network. Runs on
// the browser engine's own thread: the page address is fixed before it is
// installed.
class PageOnly : public QWebEngineUrlRequestInterceptor {
 public:
  PageOnly(QUrl page, QObject* parent) : QWebEngineUrlRequestInterceptor(parent), page_(page) {}
  void interceptRequest(QWebEngineUrlRequestInfo& info) override {
    const QUrl url = info.requestUrl();
    const QString scheme = url.scheme();
    if (url == page_ || scheme == QLatin1String("data") || scheme == QLatin1String("about")) {
      return;
    }
    info.block(true);
  }

 private:
  const QUrl page_;
};

// The page stays where it is: a click on a recorded link goes nowhere and
// opens no window.
class ViewerPage : public QWebEnginePage {
 public:
  ViewerPage(QWebEngineProfile* profile, QUrl page, QObject* parent)
      : QWebEnginePage(profile, parent), page_(std::move(page)) {}

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
    if (!isMainFrame) return url.scheme() == QLatin1String("about") ||
                             url.scheme() == QLatin1String("data");
    return url.adjusted(QUrl::RemoveFragment) == page_;
  }
  QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }

 private:
  const QUrl page_;
};

}  // namespace

TraceViewer::TraceViewer(QWidget* parent) : QWidget(parent, Qt::Window) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QString::fromUtf8(manager_text::kTraceViewerCaption));
  pageUrl_ = QUrl::fromLocalFile(folder_.filePath(QStringLiteral("trace.html")));
  // No storage name: an off-the-record profile, nothing of it on the disk.
  profile_ = new QWebEngineProfile(this);
  profile_->setHttpCacheType(QWebEngineProfile::NoCache);
  profile_->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
  profile_->setUrlRequestInterceptor(new PageOnly(pageUrl_, profile_));
  QWebEngineSettings* settings = profile_->settings();
  settings->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
  settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
  settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  settings->setAttribute(QWebEngineSettings::LocalStorageEnabled, false);
  view_ = new QWebEngineView(this);
  view_->setPage(new ViewerPage(profile_, pageUrl_, view_));
  connect(view_, &QWebEngineView::loadFinished, this, &TraceViewer::pageLoaded);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);
  resize(kInitialWidth, kInitialHeight);
  setMinimumSize(kMinimumWidth, kMinimumHeight);
}

TraceViewer::~TraceViewer() {
  // The page goes before its profile.
  delete view_;
}

void TraceViewer::showTrace(const QString& traceFile, const QString& scriptName) {
  const quint64 request = ++requests_;
  if (!folder_.isValid()) {
    Q_EMIT failed(QStringLiteral("no private folder for the page: ") + folder_.errorString());
    return;
  }
  QPointer<TraceViewer> self(this);
  const std::string path = QFile::encodeName(traceFile).toStdString();
  QThreadPool::globalInstance()->start([self, request, path, traceFile, scriptName] {
    TraceFile trace;
    std::string reason;
    std::string html;
    int problems = 0;
    QString error;
    if (ReadTraceFile(path, trace, reason)) {
      problems = static_cast<int>(trace.problems.size());
      html = TraceToHtml(trace);
    } else {
      error = QString::fromStdString(reason);
    }
    // A window closed meanwhile drops the page.
    QMetaObject::invokeMethod(
        self,
        [self, request, traceFile, scriptName, html = std::move(html), problems, error] {
          if (self) self->PageMade(request, traceFile, scriptName, html, problems, error);
        },
        Qt::QueuedConnection);
  });
}

void TraceViewer::PageMade(quint64 request, const QString& traceFile, const QString& scriptName,
                           const std::string& html, int problems, const QString& error) {
  if (request != requests_) return;  // an older request's page
  if (!error.isEmpty()) {
    Q_EMIT failed(error);
    return;
  }
  // The page replaces the one shown before only once it is whole: a full
  // disk leaves the last page, never half of this one.
  platform::FileWriteOptions options;
  options.privateFile = true;
  std::string reason;
  if (!platform::ReplaceFile(QFile::encodeName(pageUrl_.toLocalFile()).toStdString(), html,
                             options, reason)) {
    Q_EMIT failed(QStringLiteral("the page cannot be written: ") + QString::fromStdString(reason));
    return;
  }
  shownTrace_ = traceFile;
  setWindowTitle(QString::fromUtf8(manager_text::kTraceViewerTitle)
                     .arg(scriptName, QFileInfo(traceFile).fileName()));
  // Loaded again: the same address holds another trace now.
  view_->page()->load(pageUrl_);
  Q_EMIT ready(problems);
}

}  // namespace velmar
