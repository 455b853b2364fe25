// tamarind [--home DIR]: the script manager.

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/console_host.h"
#include "engine/engine_environment.h"
#include "manager/main_window.h"
#include "ui/display_check.h"

int main(int argc, char** argv) {
  std::string home;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--home") == 0 && i + 1 < argc) {
      home = argv[++i];
    } else if (std::strncmp(argv[i], "--home=", 7) == 0) {
      home = argv[i] + 7;
    }
  }
  velmar::ExitUnlessDisplayAvailable("tamarind");
  QApplication app(argc, argv);
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
