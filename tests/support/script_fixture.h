#pragma once
// A script context for driving statements, expansion and built-ins without a
// worker thread: a throwaway home folder (with an optional Config.ini), a
// code page, and a host that records what the script asks of it.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine_environment.h"
#include "engine/host_requests.h"
#include "engine/script_context.h"
#include "support/test_support.h"

namespace velmar::testing {

// Records every request as {code, text}, alerts included.
class RecordingHost : public ScriptHost {
 public:
  void handleRequest(const HostRequest& request, const std::string& text) override {
    requests.emplace_back(request.code, text);
  }
  ScreenSize screenSize() override { return screen; }

  // The alert texts as sent, in the script's code page.
  std::vector<std::string> Alerts() const;

  std::vector<std::pair<int32_t, std::string>> requests;
  ScreenSize screen;
};

struct ScriptFixture {
  // The code page comes from Config.ini, UTF-8 when it names none.
  explicit ScriptFixture(const std::string& configText = {});
  // This code page, whatever Config.ini says.
  explicit ScriptFixture(int codePage, const std::string& configText = {});

  // A new context on the same environment and host, with no requests recorded.
  void ResetContext();

  // Runs a statement through its handler in the keyword table, with the
  // argument text as given (no expansion).
  void Run(int32_t id, const std::string& text = {});
  // ExpandAndEvaluate of a copy.
  std::string Expand(std::string text);
  std::string& Var(const std::string& name) { return ctx->variables[name]; }
  const std::string& status() { return Var("status"); }

  // The alerts so far, converted to UTF-8.
  std::vector<std::string> Alerts() const;
  std::size_t AlertCount() const { return host.Alerts().size(); }
  // True when the last alert names this reason (given in UTF-8).
  bool LastAlertHas(const std::string& reasonUtf8) const;

  TempDir home;
  EngineEnvironment env;
  RecordingHost host;
  std::unique_ptr<ScriptContext> ctx;
};

}  // namespace velmar::testing
