#include "ui/qt_host.h"

#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QWebEngineProfile>
#include <algorithm>
#include <climits>
#include <filesystem>
#include <system_error>

#include "engine/keyword_table.h"
#include "ext/jscript_host.h"
#include "ui/cookie_bridge.h"
#include "ui/input_dialog.h"
#include "ui/qt_text.h"
#include "platform/durable_file.h"
#include "ui/script_window.h"
#include "values/text_file_ops.h"

namespace velmar {

namespace {

// X11 keeps window coordinates and sizes in 16 bits.
constexpr long long kMaxCoordinate = 32000;

int AtoiLike(std::string_view text) {
  const long long value = LeadingInteger(text);
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

int Coordinate(int value) {
  return static_cast<int>(std::clamp<long long>(value, -kMaxCoordinate, kMaxCoordinate));
}

int Extent(int value) {
  return static_cast<int>(std::clamp<long long>(value, 0, kMaxCoordinate));
}

std::string ToLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The browser engine reports its set-up (graphics backend, command-line
// switches) as information of this category at its start: twenty lines on
// the user's terminal that say nothing about the scripts. Its warnings stay.
QLoggingCategory::CategoryFilter g_previousLogFilter = nullptr;

void QuietEngineSetUp(QLoggingCategory* category) {
  if (g_previousLogFilter) g_previousLogFilter(category);
  if (qstrcmp(category->categoryName(), "qt.webenginecontext") == 0) {
    category->setEnabled(QtInfoMsg, false);
    category->setEnabled(QtDebugMsg, false);
  }
}

void UpdateScreenSize(UiHostCore& host) {
  QScreen* screen = QGuiApplication::primaryScreen();
  host.setScreenSize(screen ? ScreenSize{screen->geometry().width(), screen->geometry().height()}
                            : ScreenSize{});
}

}  // namespace

QtHost::QtHost(const EngineEnvironment& environment, std::string alertCaption,
               QWebEngineProfile* profile)
    : UiHostCore(environment,
                 [this] {
                   std::lock_guard<std::mutex> lock(wakeMutex_);
                   if (!waker_) return;
                   QMetaObject::invokeMethod(
                       waker_.get(), [this] { processRequests(); }, Qt::QueuedConnection);
                 }),
      caption_(std::move(alertCaption)),
      givenProfile_(profile),
      waker_(std::make_unique<QObject>()) {
  opener_ = [](const std::string& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(path.c_str())));
  };
  UpdateScreenSize(*this);
  auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  if (app) {
    QObject::connect(app, &QGuiApplication::primaryScreenChanged, waker_.get(), [this](QScreen* s) {
      UpdateScreenSize(*this);
      if (s) {
        QObject::connect(s, &QScreen::geometryChanged, waker_.get(),
                         [this] { UpdateScreenSize(*this); });
      }
    });
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      QObject::connect(screen, &QScreen::geometryChanged, waker_.get(),
                       [this] { UpdateScreenSize(*this); });
    }
  }
}

QtHost::~QtHost() {
  stopAllAndWait(kExitWaitMs);
  detachWake();
  {
    std::lock_guard<std::mutex> lock(wakeMutex_);
    waker_.reset();
  }
  for (auto& [pending, box] : alerts_) {
    if (box) box->deleteLater();
  }
  alerts_.clear();
  closeAllWindows();
  cookies_.reset();
}

void QtHost::setFileOpener(std::function<void(const std::string&)> opener) {
  opener_ = std::move(opener);
}

std::string QtHost::notePath(int32_t id) const {
  return (environment().home / "Temp" / ("note_" + std::to_string(id) + ".txt")).string();
}

void QtHost::sendWindowEvent(const std::string& source, const std::string& event,
                             const std::string& value) {
  WindowEvent windowEvent{source, event, value};
  if (onWindowEvent) onWindowEvent(windowEvent);
  broadcastWindowEvent(windowEvent);
}

std::vector<QMessageBox*> QtHost::openAlerts() const {
  std::vector<QMessageBox*> boxes;
  for (const auto& [pending, box] : alerts_) {
    if (box) boxes.push_back(box.data());
  }
  return boxes;
}

InputDialog* QtHost::promptOf(ScriptInstance& instance) const {
  std::lock_guard<std::mutex> lock(listLock());
  return static_cast<InputDialog*>(instance.promptDialog);
}

ScriptWindow* QtHost::window(const std::string& name) const {
  std::lock_guard<std::mutex> lock(windowTableLock_);
  auto it = windows_.find(name);
  return it == windows_.end() ? nullptr : it->second.get();
}

void QtHost::showText(ScriptInstance* instance, int32_t code, const std::string& text) {
  if (onText) onText(instance, code, text);
}

void QtHost::openAlert(const std::shared_ptr<PendingRequest>& pending) {
  // The worker marked its run as failed before it sent the report.
  auto* instance = dynamic_cast<ScriptInstance*>(pending->instance);
  if (instance && instance->errorReported && onScriptError) onScriptError(instance, pending->text);
  auto* box = new QMessageBox(QMessageBox::NoIcon, QString::fromUtf8(caption_.c_str()),
                              ToQString(cp().CutAtCharacter(pending->text, kMaxPromptBytes), cp()),
                              QMessageBox::Ok);
  box->setTextFormat(Qt::PlainText);
  box->setAttribute(Qt::WA_DeleteOnClose);
  const PendingRequest* key = pending.get();
  QObject::connect(box, &QDialog::finished, box, [this, pending, key] {
    pending->finish();
    alerts_.erase(key);
  });
  alerts_[key] = box;
  box->show();
}

void QtHost::cancelRequest(const PendingRequest& pending) {
  if (auto it = alerts_.find(&pending); it != alerts_.end()) {
    QPointer<QMessageBox> box = it->second;
    alerts_.erase(it);
    if (box) box->close();
  }
  pageCalls_.erase(&pending);
}

void QtHost::openNote(ScriptInstance& instance, const std::string& text) {
  const std::string path = notePath(instance.id);
  // A note is the programs' own file: a link planted at its name (or at
  // `Temp`) is never written through. An unwritable note is not reported.
  std::string reason;
  if (!platform::OwnFolder(environment().home / "Temp", reason)) return;
  WriteOwnTextFile(path, text, "w");
  if (opener_) opener_(path);
}

void* QtHost::openPrompt(ScriptInstance& instance, const std::string& text) {
  // Laying out a huge text would hold the UI thread for seconds; a prompt
  // that long is unreadable in this small dialog anyway.
  auto* dialog = new InputDialog(ToQString(cp().CutAtCharacter(text, kMaxPromptBytes), cp()));
  ScriptInstance* target = &instance;
  dialog->setAnswerHandler([this, target, dialog](const QString& answer) {
    answerPrompt(*target, dialog, FromQString(answer, cp()));
  });
  dialog->present();
  return dialog;
}

void QtHost::closePrompt(void* dialog) {
  static_cast<InputDialog*>(dialog)->dismiss();
}

void QtHost::windowRequest(const std::shared_ptr<PendingRequest>& pending) {
  const std::string& text = pending->text;
  switch (pending->code) {
    case REQ_OPENWINDOW:
      OpenWindow(text);
      break;
    case REQ_SETWINDOW:
      SetWindow(text);
      break;
    case REQ_SHOWWINDOW:
    case REQ_HIDEWINDOW: {
      std::lock_guard<std::mutex> lock(windowTableLock_);
      if (auto it = windows_.find(text); it != windows_.end()) {
        if (pending->code == REQ_SHOWWINDOW) {
          it->second->showByScript();
        } else {
          it->second->hideByScript();
        }
      }
      break;
    }
    case REQ_CLOSEWINDOW: {
      std::unique_ptr<ScriptWindow> closed;
      {
        std::lock_guard<std::mutex> lock(windowTableLock_);
        if (auto it = windows_.find(text); it != windows_.end()) {
          closed = std::move(it->second);
          windows_.erase(it);
        }
      }
      if (closed) {
        closed->closeForGood();
        closed.release()->deleteLater();
      }
      break;
    }
    case REQ_JSWINDOW:
      JsWindow(pending);
      return;  // finishes by itself
    default:
      break;
  }
  pending->finish();
}

void QtHost::OpenWindow(const std::string& text) {
  const FirstWordSplit split = splitFirstWord(text, "", cp());
  const std::string name = split.found ? split.head : text;
  const std::string url = split.found ? split.tail : std::string("about:blank");
  std::lock_guard<std::mutex> lock(windowTableLock_);
  if (windows_.count(name)) return;  // the first window of a name stays
  StartWebEngine();
  auto window = std::make_unique<ScriptWindow>(ToQString(name, cp()), profile_);
  QObject::connect(window.get(), &ScriptWindow::windowEvent, waker_.get(),
                   [this, name](const QString& event, const QString& value) {
                     sendWindowEvent(name, FromQString(event, cp()), FromQString(value, cp()));
                   });
  cookies_->loadStore();
  window->navigate(ToQString(url, cp()));
  windows_.emplace(name, std::move(window));
}

void QtHost::StartWebEngine() {
  if (profile_) return;
  // The browser engine starts with its first profile: a program that never
  // opens a script window never pays for it (start time, memory, processes).
  static const bool quiet = [] {
    g_previousLogFilter = QLoggingCategory::installFilter(QuietEngineSetUp);
    return true;
  }();
  (void)quiet;
  profile_ = givenProfile_ ? givenProfile_ : QWebEngineProfile::defaultProfile();
  cookies_ = std::make_unique<CookieBridge>(profile_, environment().home / "cookies.txt");
}

void QtHost::SetWindow(const std::string& text) {
  const FirstWordSplit split = splitFirstWord(text, "", cp());
  if (!split.found) return;
  std::lock_guard<std::mutex> lock(windowTableLock_);
  auto it = windows_.find(split.head);
  if (it == windows_.end()) return;
  ScriptWindow& window = *it->second;
  const FirstWordSplit propertySplit = splitFirstWord(split.tail, "", cp());
  const std::string property = ToLower(propertySplit.found ? propertySplit.head : split.tail);
  const std::string value =
      propertySplit.found ? std::string(CodePage::TrimLeft(propertySplit.tail)) : std::string();
  if (property == "title") {
    window.setTitleText(ToQString(value, cp()));
  } else if (property == "url") {
    cookies_->loadStore();  // what a script saved just now goes along
    window.navigate(ToQString(value, cp()));
  } else if (property == "write") {
    window.writeDocument(ToQString(value, cp()));
  } else if (property == "clear") {
    window.clearDocument();
  } else if (property == "pos") {
    const std::vector<std::string> numbers = SplitText(value, "<<<", cp());
    int box[4] = {0, 0, 0, 0};
    if (numbers.size() >= 2) {
      box[0] = AtoiLike(numbers[0]);
      box[1] = AtoiLike(numbers[1]);
    }
    if (numbers.size() >= 4) {
      box[2] = AtoiLike(numbers[2]);
      box[3] = AtoiLike(numbers[3]);
    }
    window.place(Coordinate(box[0]), Coordinate(box[1]), Extent(box[2]), Extent(box[3]));
  } else if (property == "minimize") {
    window.minimizeByScript();
  } else if (property == "maximize") {
    window.maximizeByScript();
  } else if (property == "border" || property == "taskbar") {
    const std::string mode = ToLower(value);
    if (mode != "none" && mode != "normal") return;
    if (property == "border") {
      window.setBorder(mode == "normal");
    } else {
      window.setInTaskbar(mode == "normal");
    }
  }
  // any other property word does nothing
}

void QtHost::JsWindow(const std::shared_ptr<PendingRequest>& pending) {
  const FirstWordSplit split = splitFirstWord(pending->text, "", cp());
  if (!split.found) {
    pending->finish();
    return;
  }
  ScriptWindow* window = nullptr;
  {
    std::lock_guard<std::mutex> lock(windowTableLock_);
    auto it = windows_.find(split.head);
    if (it != windows_.end()) window = it->second.get();
  }
  if (!window) {
    pending->finish();
    return;
  }
  if (!window->loadedOnce()) {
    // No page to ask yet: `return` stays as it is.
    pending->finish([](ScriptContext& ctx) { ctx.variables["status"] = "0"; });
    return;
  }
  const std::string expression = split.tail;
  const CodePage* codePage = &cp();
  auto answer = [this, pending, expression, codePage](const QStringList& result) {
    std::lock_guard<std::mutex> tableLock(windowTableLock_);
    std::lock_guard<std::mutex> listGuard(listLock());
    pending->finish([&](ScriptContext& ctx) {
      if (result.size() >= 2 && result[0] == QLatin1String("1")) {
        ctx.variables.SetReceived("return", FromQString(result[1], *codePage));
        ctx.variables["status"] = "1";
        return;
      }
      const long line = result.size() >= 3 ? result[2].toLong() : 0;
      const std::string description = result.size() >= 2 ? FromQString(result[1], *codePage)
                                                         : std::string("the page went away");
      ctx.variables.SetReceived("return",
                                ComposeJScriptErrorText(description, expression, line, *codePage));
      ctx.variables["status"] = "0";
    });
    pageCalls_.erase(pending.get());
  };
  pageCalls_[pending.get()] = [] {};
  window->evaluate(ToQString(expression, cp()), answer);
  const int limitMs = environment().jscript->engine.timeLimitMs();
  if (limitMs > 0) {
    QTimer::singleShot(limitMs, waker_.get(), [this, pending, limitMs, codePage] {
      pending->finish([&](ScriptContext& ctx) {
        ctx.variables.SetReceived(
            "return", ComposeJScriptErrorText("the evaluation ran longer than " +
                                                  std::to_string(limitMs) + " ms",
                                              "", 0, *codePage));
        ctx.variables["status"] = "0";
      });
      pageCalls_.erase(pending.get());
    });
  }
}

void QtHost::closeAllWindows() {
  std::map<std::string, std::unique_ptr<ScriptWindow>> windows;
  {
    std::lock_guard<std::mutex> lock(windowTableLock_);
    windows.swap(windows_);
  }
  for (auto& [name, window] : windows) window->closeForGood();
  windows.clear();
}

}  // namespace velmar
