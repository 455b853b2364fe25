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
  window.show();
  return app.exec();
}
