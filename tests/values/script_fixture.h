#pragma once
// A script context with a host that records what the script asks of it, for
// driving expansion and the built-ins without a worker thread.

#include <string>
#include <utility>
#include <vector>

#include "engine/engine_environment.h"
#include "engine/host_requests.h"
#include "engine/script_context.h"
#include "values/expansion.h"

namespace velmar::testing {

class RecordingHost : public ScriptHost {
 public:
  void handleRequest(const HostRequest& request, const std::string& text) override {
    requests.emplace_back(request.code, text);
  }
  ScreenSize screenSize() override { return screen; }

  // Alert texts converted back to UTF-8 by the caller's code page.
  std::vector<std::string> Alerts() const {
    std::vector<std::string> out;
    for (const auto& [code, text] : requests) {
      if (code == REQ_ALERT) out.push_back(text);
    }
    return out;
  }

  std::vector<std::pair<int, std::string>> requests;
  ScreenSize screen;
};

struct ScriptFixture {
  explicit ScriptFixture(int codePage = CodePage::kUtf8) : ctx(MakeEnv(env, codePage)) {
    ctx.host = &host;
  }

  // ExpandAndEvaluate of a copy.
  std::string Expand(std::string text) {
    ExpandAndEvaluate(ctx, text);
    return text;
  }
  std::string& Var(const std::string& name) { return ctx.variables[name]; }
  std::size_t AlertCount() const { return host.Alerts().size(); }
  // True when the last alert names this reason (given in UTF-8).
  bool LastAlertHas(const std::string& reasonUtf8) const {
    const auto alerts = host.Alerts();
    return !alerts.empty() &&
           alerts.back().find(ctx.codePage().FromUtf8(reasonUtf8)) != std::string::npos;
  }

  EngineEnvironment env;
  ScriptContext ctx;
  RecordingHost host;

 private:
  static const EngineEnvironment& MakeEnv(EngineEnvironment& e, int codePage) {
    e.codePage = &CodePage::Get(codePage);
    return e;
  }
};

}  // namespace velmar::testing
