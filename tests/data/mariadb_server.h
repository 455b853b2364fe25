#pragma once
// A throwaway MariaDB server on loopback for the database tests.

#include <memory>
#include <string>

#include "support/child_process.h"
#include "support/test_support.h"

namespace velmar::testing {

// One MariaDB server per test program, in a temporary data folder, started
// on first use and stopped when the program ends.
class MariaDbServer {
 public:
  static MariaDbServer& Shared();
  ~MariaDbServer();

  // Starts the server (installing the data folder the first time); false
  // with a message when it does not come up.
  bool Start(std::string* message = nullptr);
  // Ends the server without letting it shut down cleanly.
  void Kill();
  void Stop();
  bool running() const { return process_ && process_->running(); }
  int port() const { return port_; }
  // "127.0.0.1:port" for openmysql.
  std::string address() const;
  // Runs SQL as root through the command-line client; its output.
  ProcessResult Sql(const std::string& sql) const;

 private:
  MariaDbServer() = default;
  std::unique_ptr<TempDir> dir_;
  bool installed_ = false;
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
};

}  // namespace velmar::testing
