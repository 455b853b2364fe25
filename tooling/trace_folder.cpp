#include "tooling/trace_folder.h"

#include <filesystem>

#include "platform/durable_file.h"

namespace velmar {
namespace {

// The writer of the run on this thread; a worker runs one script at a time.
struct ThreadRun {
  const TraceFolder* folder = nullptr;
  TraceWriter* writer = nullptr;
};
thread_local ThreadRun tRun;

}  // namespace

TraceFolder::TraceFolder(std::string folder, bool keepSecrets,
                         std::function<void(std::string_view)> complain)
    : folder_(std::move(folder)), keepSecrets_(keepSecrets), complain_(std::move(complain)) {}

TraceFolder::~TraceFolder() = default;

bool TraceFolder::Prepare(std::string& reason) {
  if (!platform::CreatePrivateFolder(folder_)) {
    reason = folder_ + ": not a folder that can be made or written";
    return false;
  }
  return true;
}

TraceWriter* TraceFolder::Current() const {
  return tRun.folder == this ? tRun.writer : nullptr;
}

std::string TraceFolder::FileOf(const std::string& folder, int32_t scriptId,
                                std::string_view script) {
  std::string stem = std::filesystem::path(std::string(script)).stem().string();
  if (stem.empty()) stem = "script";
  return (std::filesystem::path(folder) / (stem + "-" + std::to_string(scriptId) + ".trace"))
      .string();
}

void TraceFolder::RunStarted(int32_t scriptId, std::string_view script) {
  TraceOptions options;
  options.path = FileOf(folder_, scriptId, script);
  options.keepSecrets = keepSecrets_;
  options.complain = complain_;
  auto writer = std::make_unique<TraceWriter>(std::move(options));
  std::string reason;
  if (!writer->Open(reason)) {
    if (complain_) complain_("not recording a trace: " + reason);
    tRun = {};
    return;
  }
  writer->RunStarted(scriptId, script);
  tRun = {this, writer.get()};
  std::lock_guard<std::mutex> lock(mutex_);
  writers_.push_back(std::move(writer));
}

void TraceFolder::RunEnded(int32_t scriptId) {
  TraceWriter* w = Current();
  tRun = {};
  if (!w) return;
  w->RunEnded(scriptId);
  // An ended run's writer is done: its file is closed now, so that a program
  // that runs scripts again and again (the manager) does not keep a file
  // open for every run it ever recorded.
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = writers_.begin(); it != writers_.end(); ++it) {
    if (it->get() == w) {
      writers_.erase(it);
      break;
    }
  }
}

void TraceFolder::BeforeStatement(const RunStatement& statement, StopSignal& stop,
                                  const VariableTable& variables) {
  if (TraceWriter* w = Current()) w->BeforeStatement(statement, stop, variables);
}
void TraceFolder::AfterStatement(const RunStatement& statement, const StatementOutcome& outcome) {
  if (TraceWriter* w = Current()) w->AfterStatement(statement, outcome);
}
// The run's writer decides: after a statement's first runs it only counts
// them, and a folder that timed every turn would have it write each in full.
bool TraceFolder::TimesStatement(const RunStatement& statement) {
  TraceWriter* w = Current();
  return w && w->TimesStatement(statement);
}
void TraceFolder::ScriptError(std::string_view what, std::string_view reason) {
  if (TraceWriter* w = Current()) w->ScriptError(what, reason);
}
void TraceFolder::Diagnostic(std::string_view text) {
  if (TraceWriter* w = Current()) w->Diagnostic(text);
}
void TraceFolder::VariableWritten(std::string_view name, std::string_view value) {
  if (TraceWriter* w = Current()) w->VariableWritten(name, value);
}
void TraceFolder::HttpExchange(const HttpExchangeReport& exchange) {
  if (TraceWriter* w = Current()) w->HttpExchange(exchange);
}
void TraceFolder::CookieChanged(bool shared, std::string_view domain, std::string_view name,
                                std::string_view value) {
  if (TraceWriter* w = Current()) w->CookieChanged(shared, domain, name, value);
}
void TraceFolder::PatternMatched(const PatternMatchReport& match) {
  if (TraceWriter* w = Current()) w->PatternMatched(match);
}
void TraceFolder::DatabaseStatement(const DatabaseReport& statement) {
  if (TraceWriter* w = Current()) w->DatabaseStatement(statement);
}
void TraceFolder::JsEvaluated(const JsEvaluationReport& evaluation) {
  if (TraceWriter* w = Current()) w->JsEvaluated(evaluation);
}
void TraceFolder::NativeCalled(std::string_view library, std::string_view function,
                               const std::vector<std::string_view>& arguments,
                               std::string_view result) {
  if (TraceWriter* w = Current()) w->NativeCalled(library, function, arguments, result);
}
void TraceFolder::HostRequest(const HostRequestReport& request) {
  if (TraceWriter* w = Current()) w->HostRequest(request);
}
void TraceFolder::WindowEventTaken(std::string_view window, std::string_view event,
                                   std::string_view value, bool handled) {
  if (TraceWriter* w = Current()) w->WindowEventTaken(window, event, value, handled);
}

}  // namespace velmar
