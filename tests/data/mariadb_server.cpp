#include "mariadb_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
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
  if (pid_ > 0) return true;
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
  std::vector<std::string> args = {"/usr/sbin/mariadbd",
                                   "--no-defaults",
                                   "--datadir=" + data,
                                   "--user=root",
                                   "--bind-address=127.0.0.1",
                                   "--port=" + std::to_string(port_),
                                   "--socket=" + (dir_->path() / "s.sock").string(),
                                   "--skip-log-bin"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (pid < 0) return false;
  pid_ = pid;
  for (int i = 0; i < 600; ++i) {
    if (WaitForPort(port_, 100)) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      if (message) *message = "mariadbd exited: " + ReadFile(log);
      return false;
    }
  }
  if (message) *message = "mariadbd did not listen: " + ReadFile(log);
  Kill();
  return false;
}

void MariaDbServer::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void MariaDbServer::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 300; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  Kill();
}

ProcessResult MariaDbServer::Sql(const std::string& sql) const {
  return RunProcess(
      {"/usr/bin/mariadb", "--no-defaults", "-h127.0.0.1", "-P" + std::to_string(port_), "-uroot",
       "--batch", "--skip-column-names", "--default-character-set=utf8mb4", "-e", sql},
      {}, 60);
}

}  // namespace velmar::testing
