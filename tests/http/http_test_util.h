#pragma once
// A script context over a throwaway home folder, for running the HTTP
// statements the way the executor does.

#include <memory>
#include <string>
#include <vector>

#include "engine/host_requests.h"
#include "engine/script_context.h"
#include "http/http_statements.h"
#include "support/test_support.h"

namespace velmar::testing {

// Records the requests a statement sends to its host (alerts of errors).
class RecordingHost : public ScriptHost {
 public:
  void handleRequest(const HostRequest& request, const std::string& text) override {
    requests.emplace_back(request.code, text);
  }
  std::vector<std::pair<int32_t, std::string>> requests;
};

struct ScriptFixture {
  explicit ScriptFixture(const std::string& config = {}) {
    if (!config.empty()) home.Write("Config.ini", config);
    env = EngineEnvironment::ForHome(home.path());
    ctx = std::make_unique<ScriptContext>(env);
    ctx->host = &host;
    ctx->id = 7;
  }
  void Run(int32_t id, const std::string& text = {}) { ExecuteHttpStatement(*ctx, id, text); }
  std::string& var(const std::string& name) { return ctx->variables[name]; }

  TempDir home;
  EngineEnvironment env;
  RecordingHost host;
  std::unique_ptr<ScriptContext> ctx;
};

}  // namespace velmar::testing
