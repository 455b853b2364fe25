#pragma once
// The record of every script a runner starts, one trace file per run in a
// folder: `<script name>-<run number>.trace`. Each run's events come on its
// own worker thread and go to that run's writer.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tooling/trace_writer.h"
#include "values/run_observer.h"

namespace velmar {

class TraceFolder : public RunObserver {
 public:
  TraceFolder(std::string folder, bool keepSecrets, std::function<void(std::string_view)> complain);
  ~TraceFolder() override;

  // Makes the folder (mode 700) when missing; false with the reason when
  // there is none to write into.
  bool Prepare(std::string& reason);
  // The trace file of a run in `folder`: `<script name>-<run number>.trace`.
  static std::string FileOf(const std::string& folder, int32_t scriptId, std::string_view script);

  void RunStarted(int32_t scriptId, std::string_view script) override;
  void RunEnded(int32_t scriptId) override;
  void BeforeStatement(const RunStatement& statement, StopSignal& stop,
                       const VariableTable& variables) override;
  void AfterStatement(const RunStatement& statement, const StatementOutcome& outcome) override;
  bool TimesStatement(const RunStatement& statement) override;
  void ScriptError(std::string_view what, std::string_view reason) override;
  void Diagnostic(std::string_view text) override;
  void VariableWritten(std::string_view name, std::string_view value) override;
  void HttpExchange(const HttpExchangeReport& exchange) override;
  void CookieChanged(bool shared, std::string_view domain, std::string_view name,
                     std::string_view value) override;
  void PatternMatched(const PatternMatchReport& match) override;
  void DatabaseStatement(const DatabaseReport& statement) override;
  void JsEvaluated(const JsEvaluationReport& evaluation) override;
  void NativeCalled(std::string_view library, std::string_view function,
                    const std::vector<std::string_view>& arguments,
                    std::string_view result) override;
  void HostRequest(const HostRequestReport& request) override;
  void WindowEventTaken(std::string_view window, std::string_view event, std::string_view value,
                        bool handled) override;

 private:
  TraceWriter* Current() const;

  std::string folder_;
  bool keepSecrets_;
  std::function<void(std::string_view)> complain_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<TraceWriter>> writers_;
};

}  // namespace velmar
