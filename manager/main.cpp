// tamarind [--home DIR [--create-home]]: the script manager.

#include <QApplication>
#include <cstdio>
#include <string>

#include "engine/console_host.h"
#include "engine/engine_environment.h"
#include "manager/main_window.h"
#include "manager/manager_texts.h"
#include "ui/display_check.h"
#include "values/version.h"

namespace {

int UsageError(const std::string& message) {
  std::fprintf(stderr, "tamarind: %s\n%s", message.c_str(), velmar::manager_text::kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string home;
  bool createHome = false;
  // Options are read before Qt sees the command line: an unknown one is
  // refused rather than starting the window.
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(velmar::manager_text::kUsage, stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (arg == "--version") {
      std::printf("tamarind %s\n", velmar::kVersion);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (arg == "--home") {
      if (i + 1 >= argc) return UsageError("--home needs a folder");
      home = argv[++i];
    } else if (arg.rfind("--home=", 0) == 0) {
      home = arg.substr(7);
    } else if (arg == "--create-home") {
      createHome = true;
    } else {
      return UsageError("unknown argument: " + arg);
    }
  }
  if (!velmar::HomeOptionAccepted("tamarind", home, createHome)) return 2;
  velmar::ExitUnlessDisplayAvailable("tamarind");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  velmar::EngineEnvironment environment =
      velmar::EngineEnvironment::ForHome(velmar::ResolveHomeFolder(home));
  // Why a request failed goes to standard error, as with velmar run.
  environment.diagnostic = velmar::ConsoleDiagnostics(stderr, "tamarind");
  velmar::MainWindow window(environment);
  // A script error's position goes to the script's row, on the UI thread,
  // and to standard error as with velmar run.
  const auto toStandardError = velmar::ConsoleScriptErrors(stderr, "tamarind");
  environment.scriptError = [&window, toStandardError](int32_t id,
                                                       const velmar::ScriptErrorReport& report) {
    toStandardError(id, report);
    QMetaObject::invokeMethod(&window, [&window, id, report] { window.recordScriptError(id, report); },
                              Qt::QueuedConnection);
  };
  window.show();
  return app.exec();
}
