#include "runner/windowed_runner.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QUrl>
#include <memory>
#include <system_error>
#include <thread>

#include "engine/console_host.h"
#include "engine/engine_environment.h"
#include "platform/stop_signals.h"
#include "runner/runner_core.h"
#include "runner/runner_texts.h"
#include "ui/global_hot_key.h"
#include "ui/program_icon.h"
#include "ui/qt_host.h"
#include "ui/tray_icon.h"

namespace velmar {

namespace {

QString FromCodePage(const std::string& text, const CodePage& cp) {
  const std::u16string wide = cp.ToUtf16(text);
  return QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
}

// The Qt host with the runner's own requests and the end of each worker.
class RunnerQtHost : public QtHost {
 public:
  RunnerQtHost(const EngineEnvironment& environment)
      : QtHost(environment, QtHost::kRunnerCaption) {}
  void attach(RunnerCore* runner) { runner_ = runner; }

 protected:
  void onWorkerEnded(ScriptInstance& instance) override {
    QtHost::onWorkerEnded(instance);
    if (runner_ != nullptr) runner_->workerEnded();
  }

 private:
  RunnerCore* runner_ = nullptr;
};

class DesktopShell : public RunnerShell {
 public:
  DesktopShell(QApplication& app, RunnerQtHost& host, const CodePage& cp)
      : app_(app), host_(host), cp_(cp), tray_(QApplication::windowIcon()) {}

  void attach(RunnerCore* runner) {
    runner_ = runner;
    // The items act only through the scripts' event sections, except the
    // support item.
    QAction* show = menu_.addAction(QString::fromUtf8(runner_text::kShowMain));
    QAction* quit = menu_.addAction(QString::fromUtf8(runner_text::kQuit));
    QAction* support = menu_.addAction(QString::fromUtf8(runner_text::kSupport));
    menu_.setDefaultAction(show);
    QObject::connect(show, &QAction::triggered, &app_,
                     [this] { runner_->trayMenuCommand(kTrayMenuShow); });
    QObject::connect(quit, &QAction::triggered, &app_,
                     [this] { runner_->trayMenuCommand(kTrayMenuQuit); });
    QObject::connect(support, &QAction::triggered, &app_,
                     [this] { runner_->trayMenuCommand(kTrayMenuSupport); });
    tray_.setMenu(&menu_);
    QObject::connect(&tray_, &TrayIcon::clicked, &app_,
                     [this] { runner_->trayNotify(kTrayLeftButtonUp); });
    QObject::connect(&hotKey_, &GlobalHotKey::activated, &app_,
                     [this] { runner_->hotKeyPressed(); });
    QObject::connect(&tray_, &TrayIcon::unavailable, &app_,
                     [this] { note("this desktop has no system tray; showtray shows nothing"); });
  }

  void post(std::function<void()> task) override {
    QMetaObject::invokeMethod(&app_, std::move(task), Qt::QueuedConnection);
  }
  // Before the event loop runs (the boot file failed) there is no loop to
  // end yet: the status is kept for main.
  void quit(int exitStatus) override {
    quitStatus_ = exitStatus;
    QCoreApplication::exit(exitStatus);
  }
  int quitStatus() const { return quitStatus_; }

  void showMessage(const std::string& text) override {
    QMessageBox box(QMessageBox::Information, QString::fromUtf8(QtHost::kRunnerCaption),
                    QString::fromUtf8(text.c_str()), QMessageBox::Ok);
    box.exec();
  }
  void openUrl(const std::string& url) override {
    QDesktopServices::openUrl(QUrl(FromCodePage(url, cp_)));
  }
  void addTrayIcon(const std::string& tooltip) override {
    tray_.setToolTip(FromCodePage(tooltip, cp_));
    tray_.show();
  }
  void modifyTrayIcon(const std::string& tooltip) override {
    tray_.setToolTip(FromCodePage(tooltip, cp_));
  }
  void deleteTrayIcon() override { tray_.hide(); }
  bool registerHotKey(const HotKey&) override {
    // The desktop layer registers from the text itself, with the same rule:
    // CTRL, ALT and the last byte as the key's code.
    const std::string& text = runner_->settings().hotKey;
    const GlobalHotKey::Result result = hotKey_.registerKey(text);
    if (result == GlobalHotKey::Result::kRegistered) return true;
    note("the hot key \"" + text + "\" could not be registered" +
         (result == GlobalHotKey::Result::kRefused       ? " (another program holds it)"
          : result == GlobalHotKey::Result::kUnavailable ? " (no global keys on this desktop)"
          : result == GlobalHotKey::Result::kNotOnKeyboard
              ? " (the keyboard has no such key)"
              : " (no key has the code of its last byte)"));
    return false;
  }
  void unregisterHotKey() override { hotKey_.unregisterKey(); }
  void answerWaitingRequests() override {
    host_.processRequests();
    QCoreApplication::sendPostedEvents();
  }
  void stopScript(ScriptHostBase&, ScriptInstance& instance) override {
    host_.stopScript(instance);
  }

  TrayIcon& tray() { return tray_; }

 private:
  QApplication& app_;
  RunnerQtHost& host_;
  const CodePage& cp_;
  RunnerCore* runner_ = nullptr;
  TrayIcon tray_;
  QMenu menu_;
  GlobalHotKey hotKey_;
  int quitStatus_ = -1;
};

}  // namespace

int RunWindowed(const std::filesystem::path& home, int& argc, char** argv) {
  // Blocked before Qt starts its threads, so that only the signal thread
  // ever takes them.
  platform::StopSignals signals;

  // The script windows' pages share one GL context setup, asked for before
  // the application exists.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("VlmPack"));
  QApplication::setOrganizationName(QStringLiteral("VelmarPack"));
  // The runner has no window: closing the last script window must not end it.
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(
      ProgramIcon(QStringLiteral("vlmpack"), QLatin1Char('P'), IconShape::kRoundedSquare));

  EngineEnvironment env = EngineEnvironment::ForHome(home, KeywordFlavor::kRunner);
  env.diagnostic = ConsoleDiagnostics(stderr, "vlmpack");
  env.scriptError = ConsoleScriptErrors(stderr, "vlmpack");
  auto host = std::make_unique<RunnerQtHost>(env);
  DesktopShell shell(app, *host, *env.codePage);
  RunnerCore runner(*host, shell, RunnerSettings::Read(env.config));
  host->attach(&runner);
  // showtray and hidetray; show, right, left and state change nothing here.
  host->onText = [&runner](ScriptInstance*, int32_t code, const std::string&) {
    runner.handleRunnerRequest(code);
  };
  shell.attach(&runner);

  // Made before the scripts' threads (see RunHeadless).
  std::thread signalThread;
  try {
    signalThread = std::thread([&] {
      while (signals.Wait() != 0) shell.post([&runner] { runner.quitProcedure(0); });
    });
  } catch (const std::system_error& e) {
    shell.note(std::string("cannot create the thread that takes the stop signals: ") + e.what());
  }
  runner.start();
  const int status = shell.quitStatus() >= 0 ? shell.quitStatus() : app.exec();
  if (signalThread.joinable()) {
    signals.Release(signalThread);
    signalThread.join();
  }
  host.reset();  // stops what is left and closes the script windows
  return status;
}

}  // namespace velmar
