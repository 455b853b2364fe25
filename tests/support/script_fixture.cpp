#include "support/script_fixture.h"

#include <gtest/gtest.h>

#include "engine/keyword_table.h"
#include "engine/statements/expansion.h"

namespace velmar::testing {

std::vector<std::string> RecordingHost::Alerts() const {
  std::vector<std::string> out;
  for (const auto& [code, text] : requests) {
    if (code == REQ_ALERT) out.push_back(text);
  }
  return out;
}

ScriptFixture::ScriptFixture(const std::string& configText) {
  if (!configText.empty()) home.Write("Config.ini", configText);
  env = EngineEnvironment::ForHome(home.path());
  ResetContext();
}

ScriptFixture::ScriptFixture(int codePage, const std::string& configText)
    : ScriptFixture(configText) {
  env.codePage = &CodePage::Get(codePage);
}

void ScriptFixture::ResetContext() {
  ctx.reset();
  ctx = std::make_unique<ScriptContext>(env);
  ctx->host = &host;
  host.requests.clear();
}

void ScriptFixture::Run(int32_t id, const std::string& text) {
  const KeywordRow& row = KeywordRowOf(id);
  ASSERT_NE(row.handler, nullptr) << "statement " << id << " is the executor's own";
  row.handler(*ctx, text);
}

std::string ScriptFixture::Expand(std::string text) {
  ExpandAndEvaluate(*ctx, text);
  return text;
}

std::vector<std::string> ScriptFixture::Alerts() const {
  std::vector<std::string> out;
  for (const std::string& alert : host.Alerts()) out.push_back(ctx->codePage().ToUtf8(alert));
  return out;
}

bool ScriptFixture::LastAlertHas(const std::string& reasonUtf8) const {
  const auto alerts = host.Alerts();
  return !alerts.empty() &&
         alerts.back().find(ctx->codePage().FromUtf8(reasonUtf8)) != std::string::npos;
}

}  // namespace velmar::testing
