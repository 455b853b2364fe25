#include "ui/script_window.h"

#include <QCloseEvent>
#include <QRandomGenerator>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>
#include <QWindowStateChangeEvent>
#include <algorithm>

#include "ui/product_info.h"

namespace velmar {

namespace {

// Watches left-button releases in the page: the element under the pointer
// (an image counts as its parent) becomes "window_click" with its id, or,
// for a link into another target, "window_new" with its address, and the
// click on such a link opens nothing.
//
// It runs in the host's own script world: the page shares the document but
// not this code's globals, its `console` or its tag, so it can neither read
// the reports nor send one. Only releases the user made count (the page can
// dispatch mouse events of its own, but not trusted ones). Opening a
// document (a script's `write` after `clear`, the page's document.open)
// drops every listener of the window, so the listeners are attached again
// whenever the document's root changes and after every write of the host;
// attaching is idempotent.
QString ClickWatcherSource() {
  return QStringLiteral(R"JS((function () {
  var w = window.__velmarWatch;
  if (!w) {
    var tag = %1;
    var send = console.log.bind(console);
    function target(e) {
      var el = document.elementFromPoint(e.clientX, e.clientY);
      if (el && el.tagName && el.tagName.toLowerCase() === "img") el = el.parentElement;
      return el;
    }
    function otherTarget(el) {
      if (!el || !el.tagName || el.tagName.toLowerCase() !== "a") return false;
      var t = (el.getAttribute("target") || "").toLowerCase();
      return t !== "" && t !== "_self";
    }
    w = window.__velmarWatch = {
      up: function (e) {
        if (!e.isTrusted || e.button !== 0) return;
        var el = target(e);
        if (!el) return;
        if (otherTarget(el)) send(tag + "window_new\u0001" + (el.href || el.getAttribute("href") || ""));
        else send(tag + "window_click\u0001" + (el.id || ""));
      },
      click: function (e) {
        if (e.isTrusted && e.button === 0 && otherTarget(target(e))) {
          e.preventDefault();
          e.stopPropagation();
        }
      },
      attach: function () {
        window.removeEventListener("mouseup", w.up, true);
        window.removeEventListener("click", w.click, true);
        window.addEventListener("mouseup", w.up, true);
        window.addEventListener("click", w.click, true);
      }
    };
    new MutationObserver(function () { w.attach(); })
        .observe(document, {childList: true});
  }
  w.attach();
})();)JS")
      .arg(JsStringLiteral(ScriptPage::EventTag()));
}

// Evaluates like the host's engine (a direct eval inside a function, so
// `var` stays local and assignments make globals) and turns the value into
// text the same way: undefined and null give the empty text, objects other
// than String, Number and Boolean objects have no text.
QString EvaluationSource(const QString& expression) {
  return QStringLiteral(R"JS((function (source) {
  function qzk47eval(s) { return eval(s); }
  try {
    var v = qzk47eval(source);
    if (v === undefined || v === null) return ["1", ""];
    var type = typeof v;
    if (type === "object" || type === "function") {
      if (v instanceof String || v instanceof Number || v instanceof Boolean) v = v.valueOf();
      else return ["0", "the value has no text", "1"];
    }
    var text = String(v);
    if (text.length > %2) return ["0", "the value is longer than %2 characters", "1"];
    return ["1", text];
  } catch (e) {
    var line = 1;
    if (e && typeof e.lineNumber === "number") line = e.lineNumber;
    else if (e && e.stack) {
      // Only the frame of the evaluated text counts, not this wrapper's.
      var m = /eval at [^\n]*, <anonymous>:(\d+):\d+/.exec(String(e.stack));
      if (m) line = Number(m[1]);
    }
    var description;
    try { description = String(e); } catch (f) { description = "exception"; }
    return ["0", description, String(line)];
  }
})(%1))JS")
      .arg(JsStringLiteral(expression), QString::number(ScriptWindow::kMaxResultLength));
}

}  // namespace

QString JsStringLiteral(const QString& text) {
  QString out;
  out.reserve(text.size() + text.size() / 8 + 2);
  out += QLatin1Char('"');
  for (QChar c : text) {
    const char16_t u = c.unicode();
    switch (u) {
      case '"':
        out += QLatin1String("\\\"");
        break;
      case '\\':
        out += QLatin1String("\\\\");
        break;
      case '\n':
        out += QLatin1String("\\n");
        break;
      case '\r':
        out += QLatin1String("\\r");
        break;
      default:
        if (u < 0x20 || u == 0x2028 || u == 0x2029 || u == '<') {
          // `<` too, so that "</script>" in a text cannot end anything.
          out += QStringLiteral("\\u%1").arg(static_cast<int>(u), 4, 16, QLatin1Char('0'));
        } else {
          out += c;
        }
    }
  }
  out += QLatin1Char('"');
  return out;
}

ScriptPage::ScriptPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent) {}

const QString& ScriptPage::EventTag() {
  static const QString tag =
      QStringLiteral("velmar-event-%1:").arg(QRandomGenerator::global()->generate64(), 0, 16);
  return tag;
}

void ScriptPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message,
                                          int, const QString&) {
  const QString& tag = EventTag();
  if (!message.startsWith(tag)) return;
  const qsizetype split = message.indexOf(QChar(0x0001), tag.size());
  if (split < 0) return;
  Q_EMIT pageEvent(message.mid(tag.size(), split - tag.size()), message.mid(split + 1));
}

QWebEnginePage* ScriptPage::createWindow(WebWindowType) {
  return nullptr;
}

QString ScriptWindow::TitleSuffix() {
  return QStringLiteral(" - Powered by ") + QString::fromUtf8(kProductSiteName);
}

ScriptWindow::ScriptWindow(QString name, QWebEngineProfile* profile)
    : QWidget(nullptr, Qt::Window), name_(std::move(name)) {
  setWindowTitle(QStringLiteral("Dialog"));
  page_ = new ScriptPage(profile ? profile : QWebEngineProfile::defaultProfile(), this);
  QWebEngineScript watcher;
  watcher.setName(QStringLiteral("velmar-click-watcher"));
  watcher.setInjectionPoint(QWebEngineScript::DocumentCreation);
  watcher.setWorldId(QWebEngineScript::ApplicationWorld);
  watcher.setRunsOnSubFrames(false);
  watcher.setSourceCode(ClickWatcherSource());
  page_->scripts().insert(watcher);
  view_ = new QWebEngineView(this);
  view_->setPage(page_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);
  // 186 by 94 dialog units of the classic 8-point dialog font.
  resize(280, 153);
  connect(page_, &QWebEnginePage::loadFinished, this, &ScriptWindow::OnLoadFinished);
  connect(page_, &ScriptPage::pageEvent, this, &ScriptWindow::windowEvent);
}

ScriptWindow::~ScriptWindow() {
  closing_ = true;
}

void ScriptWindow::navigate(const QString& url) {
  page_->setUrl(QUrl::fromUserInput(url));
}

void ScriptWindow::setTitleText(const QString& title) {
  setWindowTitle(title + TitleSuffix());
}

void ScriptWindow::RunInPage(const QString& script) {
  if (!loadedOnce_) {
    waitingScripts_.append(script);
    return;
  }
  page_->runJavaScript(script, QWebEngineScript::MainWorld);
  Rehook();
}

void ScriptWindow::writeDocument(const QString& html) {
  RunInPage(QStringLiteral("document.write(%1);").arg(JsStringLiteral(html)));
}

void ScriptWindow::clearDocument() {
  RunInPage(QStringLiteral("document.close(); document.open(\"text/html\", \"_self\");"));
}

void ScriptWindow::Rehook() {
  page_->runJavaScript(ClickWatcherSource(), QWebEngineScript::ApplicationWorld);
}

void ScriptWindow::OnLoadFinished(bool) {
  if (!loadedOnce_) {
    loadedOnce_ = true;
    const QStringList waiting = std::exchange(waitingScripts_, {});
    for (const QString& script : waiting) page_->runJavaScript(script, QWebEngineScript::MainWorld);
    if (!waiting.isEmpty()) Rehook();
    return;
  }
  Q_EMIT windowEvent(QStringLiteral("document_complete"), page_->url().toString());
}

void ScriptWindow::place(int left, int top, int width, int height) {
  setGeometry(left, top, width, height);
  update();
}

void ScriptWindow::minimizeByScript() {
  scriptState_ = Qt::WindowMinimized;
  setWindowState(scriptState_);
}

void ScriptWindow::maximizeByScript() {
  scriptState_ = Qt::WindowMaximized;
  setWindowState(scriptState_);
}

void ScriptWindow::showByScript() {
  show();
}

void ScriptWindow::hideByScript() {
  hide();
}

void ScriptWindow::ChangeFlags(Qt::WindowFlags flags) {
  const bool visible = isVisible();
  const QRect geometry = this->geometry();
  setWindowFlags(flags);  // hides the window
  setGeometry(geometry);
  if (visible) show();
}

void ScriptWindow::setBorder(bool shown) {
  ChangeFlags(shown ? windowFlags() & ~Qt::FramelessWindowHint
                    : windowFlags() | Qt::FramelessWindowHint);
}

void ScriptWindow::setInTaskbar(bool shown) {
  const Qt::WindowFlags rest = windowFlags() & ~Qt::WindowType_Mask;
  ChangeFlags(rest | (shown ? Qt::Window : Qt::Tool));
}

void ScriptWindow::closeForGood() {
  closing_ = true;
  close();
}

void ScriptWindow::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->accept();
    return;
  }
  event->ignore();
  Q_EMIT windowEvent(QStringLiteral("window_close"), QString());
}

void ScriptWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || closing_) return;
  const Qt::WindowStates now = windowState() & ~Qt::WindowActive;
  if (now == scriptState_) return;
  const Qt::WindowStates old = static_cast<QWindowStateChangeEvent*>(event)->oldState();
  QString name;
  if ((now & Qt::WindowMinimized) && !(old & Qt::WindowMinimized)) {
    name = QStringLiteral("window_minimize");
  } else if ((now & Qt::WindowMaximized) && !(old & Qt::WindowMaximized)) {
    name = QStringLiteral("window_maximize");
  } else {
    name = QStringLiteral("window_restore");
  }
  // The script decides: the window goes back to the state it set.
  QPointer<ScriptWindow> self(this);
  QTimer::singleShot(0, this, [self] {
    if (self) self->setWindowState(self->scriptState_);
  });
  Q_EMIT windowEvent(name, QString());
}

void ScriptWindow::evaluate(const QString& expression,
                            std::function<void(const QStringList&)> done) {
  page_->runJavaScript(
      EvaluationSource(expression), QWebEngineScript::MainWorld,
      [done = std::move(done)](const QVariant& result) { done(result.toStringList()); });
}

}  // namespace velmar
