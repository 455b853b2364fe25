#pragma once
// Shared pieces of the database tests: a throwaway MariaDB server on
// loopback, a script context with a chosen code page, and a host that keeps
// the alerts a script raises.

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/engine_environment.h"
#include "engine/host_requests.h"
#include "engine/script_context.h"
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
  bool running() const { return pid_ > 0; }
  int port() const { return port_; }
  // "127.0.0.1:port" for openmysql.
  std::string address() const;
  // Runs SQL as root through the command-line client; its output.
  ProcessResult Sql(const std::string& sql) const;

 private:
  MariaDbServer() = default;
  std::unique_ptr<TempDir> dir_;
  bool installed_ = false;
  pid_t pid_ = -1;
  int port_ = 0;
};

// Records every request a script sends, alerts included.
class RecordingHost : public ScriptHost {
 public:
  void handleRequest(const HostRequest& request, const std::string& text) override {
    codes.push_back(request.code);
    texts.push_back(text);
  }
  std::vector<int32_t> codes;
  std::vector<std::string> texts;
};

// A script context with its own home folder, code page and alert recorder.
struct TestScript {
  explicit TestScript(int codePage = CodePage::kUtf8, const std::string& configText = {});
  // Runs a database statement by keyword with its raw argument text.
  void Run(int32_t id, const std::string& text);
  const std::string& status() { return ctx->variables["status"]; }
  // The alerts so far, converted to UTF-8.
  std::vector<std::string> Alerts() const;

  TempDir home;
  EngineEnvironment env;
  RecordingHost host;
  std::unique_ptr<ScriptContext> ctx;
};

}  // namespace velmar::testing
