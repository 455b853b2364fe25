#include "mariadb_server.h"

#include <vector>

namespace velmar::testing {

MariaDbServer& MariaDbServer::Shared() {
  static MariaDbServer server;
  return server;
}

MariaDbServer::~MariaDbServer() {
  Stop();
}

std::string MariaDbServer::address() const {
  return "127.0.0.1:" + std::to_string(port_);
}

bool MariaDbServer::Start(std::string* message) {
  if (running()) return true;
  if (!dir_) dir_ = std::make_unique<TempDir>();
  const std::string data = (dir_->path() / "data").string();
  if (!installed_) {
    const ProcessResult install =
        RunProcess({"/usr/bin/mariadb-install-db", "--no-defaults", "--datadir=" + data,
                    "--user=root", "--auth-root-authentication-method=normal", "--skip-test-db"},
                   {}, 120);
    if (install.exitCode != 0) {
      if (message) *message = "mariadb-install-db failed: " + install.err;
      return false;
    }
    installed_ = true;
    port_ = FreeLoopbackPort();
  }
  const std::string log = (dir_->path() / "server.log").string();
  const std::vector<std::string> args = {"/usr/sbin/mariadbd",
                                         "--no-defaults",
                                         "--datadir=" + data,
                                         "--user=root",
                                         "--bind-address=127.0.0.1",
                                         "--port=" + std::to_string(port_),
                                         "--socket=" + (dir_->path() / "s.sock").string(),
                                         "--skip-log-bin"};
  process_ = std::make_unique<ChildProcess>(args, log);
  if (!process_->running()) return false;
  for (int i = 0; i < 600; ++i) {
    if (WaitForPort(port_, 100)) return true;
    if (process_->Exited()) {
      process_.reset();
      if (message) *message = "mariadbd exited: " + ReadFile(log);
      return false;
    }
  }
  if (message) *message = "mariadbd did not listen: " + ReadFile(log);
  Kill();
  return false;
}

void MariaDbServer::Kill() {
  if (process_) process_->Kill();
  process_.reset();
}

void MariaDbServer::Stop() {
  if (process_) process_->Stop(30000);
  process_.reset();
}

ProcessResult MariaDbServer::Sql(const std::string& sql) const {
  return RunProcess(
      {"/usr/bin/mariadb", "--no-defaults", "-h127.0.0.1", "-P" + std::to_string(port_), "-uroot",
       "--batch", "--skip-column-names", "--default-character-set=utf8mb4", "-e", sql},
      {}, 60);
}

}  // namespace velmar::testing
