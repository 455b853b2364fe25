#pragma once
// An HTML script window: a top-level window around a web view, named by the
// script that opened it. The user's window-manager actions (close, minimise,
// maximise, restore) become events and leave the window as it is; clicks in
// the page become events too. Scripts drive it through the host.

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QWebEnginePage>
#include <QWidget>
#include <functional>
#include <memory>

class QWebEngineProfile;
class QWebEngineView;

namespace velmar {

// The page of a script window: reports the events its click watcher sends
// and opens no new windows.
class ScriptPage : public QWebEnginePage {
  Q_OBJECT
 public:
  ScriptPage(QWebEngineProfile* profile, QObject* parent);
  // Prefix of the console lines that carry events; random per process.
  static const QString& EventTag();

 Q_SIGNALS:
  void pageEvent(const QString& event, const QString& value);

 protected:
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                int lineNumber, const QString& sourceID) override;
  QWebEnginePage* createWindow(WebWindowType type) override;
};

class ScriptWindow : public QWidget {
  Q_OBJECT
 public:
  // The caption a script sets is followed by this suffix.
  static QString TitleSuffix();
  // Longest result text a page call may hand back, in UTF-16 units.
  static constexpr qsizetype kMaxResultLength = 16 * 1024 * 1024;

  ScriptWindow(QString name, QWebEngineProfile* profile);
  ~ScriptWindow() override;

  const QString& name() const { return name_; }
  QWebEngineView* view() const { return view_; }
  ScriptPage* page() const { return page_; }
  bool loadedOnce() const { return loadedOnce_; }

  void navigate(const QString& url);
  void setTitleText(const QString& title);
  void writeDocument(const QString& html);
  void clearDocument();
  // left, top, width, height, already cut to what the display can take.
  void place(int left, int top, int width, int height);
  void minimizeByScript();
  void maximizeByScript();
  void setBorder(bool shown);
  void setInTaskbar(bool shown);
  bool hasBorder() const { return !(windowFlags() & Qt::FramelessWindowHint); }
  bool inTaskbar() const { return (windowFlags() & Qt::WindowType_Mask) != Qt::Tool; }
  // Shows or hides for the script (not a user action).
  void showByScript();
  void hideByScript();
  // Closes the window for good (closewindow, program exit).
  void closeForGood();

  // Evaluates a JScript expression in the page the way `js` evaluates in
  // the host's engine; `done` gets {"1", text} or {"0", error, line} (an
  // empty list when the page went away).
  void evaluate(const QString& expression, std::function<void(const QStringList&)> done);

 Q_SIGNALS:
  // A window event: "window_click", "window_new", "document_complete",
  // "window_minimize", "window_maximize", "window_restore", "window_close".
  void windowEvent(const QString& event, const QString& value);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void OnLoadFinished(bool ok);
  void RunInPage(const QString& script);
  // Attaches the click watcher again after the host changed the document.
  void Rehook();
  void ChangeFlags(Qt::WindowFlags flags);

  QString name_;
  ScriptPage* page_;
  QWebEngineView* view_;
  bool loadedOnce_ = false;
  bool closing_ = false;
  // The state the script last asked for; any other state comes from the
  // user and is turned back.
  Qt::WindowStates scriptState_ = Qt::WindowNoState;
  // Document writes that came before the first page was there.
  QStringList waitingScripts_;
};

// A text as a JavaScript string literal.
QString JsStringLiteral(const QString& text);

}  // namespace velmar
