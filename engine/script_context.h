#pragma once
// All interpreter state of one running script. Only the script's worker
// thread touches it, except where the host writes variables while the worker
// waits inside a request or is suspended.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_environment.h"
#include "engine/execution_stack.h"
#include "engine/script_program.h"
#include "engine/statement_result.h"
#include "engine/worker_thread.h"
#include "platform/stop_signal.h"
#include "values/result_set_table.h"
#include "values/variable_table.h"

namespace velmar {

class ScriptHost;
// The subsystems' state (engine/subsystem_state.h); a statement includes
// the headers of the subsystems it uses.
struct SubsystemState;
struct RegexTable;
class Utf16TextCache;
class HttpClient;
struct ConnectionTable;
class LibraryTable;
class EntryPointCache;

struct LoopRecord {
  uint32_t start = 0;     // the `{` that follows `while`
  uint32_t end = 0;       // its matching `}`
  std::string condition;  // the `while` text as stored
  uint32_t statement = 0;  // the `while` itself
};

// A script error raised while a statement runs, for the executor to report
// with the statement's position. `what` is script text (active code page);
// `reason` is one of the system's own messages, in UTF-8.
struct ScriptFault {
  std::string what;
  std::string reason;
};

// The error state of the statement the executor runs now. Every error of the
// expansion that raised a statement's first error is shown (a text with three
// failing calls shows three alerts) and the first ends the run; errors the
// statement raises after that expansion are follow-on faults of the broken
// text and are dropped.
struct StatementErrors {
  bool inStatement = false;  // the executor runs a statement of this script
  bool failed = false;       // that statement raised an error
  // Nesting of ExpansionScope, the number of the outermost expansion now
  // running (or last run), and the one that raised the first error (0: the
  // first error came from outside any expansion).
  int expanding = 0;
  uint64_t expansion = 0;
  uint64_t failedIn = 0;
  uint64_t expansions = 0;
  // Raised and not yet reported, in the order raised.
  std::vector<ScriptFault> pending;
};

struct ScriptContext {
  explicit ScriptContext(const EngineEnvironment& environment);
  // Stops a worker that still runs and waits for it, so that no thread
  // outlives the state it works on.
  virtual ~ScriptContext();
  ScriptContext(const ScriptContext&) = delete;
  ScriptContext& operator=(const ScriptContext&) = delete;

  const CodePage& codePage() const { return *env->codePage; }

  int32_t id = 0;
  const ScriptProgram* program = nullptr;
  uint32_t lastIndex = 0;
  ExecutionStack executionStack;
  std::deque<LoopRecord> loopStack;
  VariableTable variables;

 private:
  std::unique_ptr<SubsystemState> subsystems_;

 public:
  RegexTable& regexes;
  Utf16TextCache& regexTexts;  // the last text `match` ran over, in UTF-16
  HttpClient& http;
  ConnectionTable& connections;
  ResultSetTable resultSets;
  LibraryTable& libraries;
  EntryPointCache& entryPoints;
  int32_t eventDepth = 0;
  int32_t remainingSleep = 0;
  bool suspendFlag = false;

  const EngineEnvironment* env;
  ScriptHost* host = nullptr;
  // Who watches this run (see values/run_observer.h); the environment's,
  // unless the host sets another before the run starts. Null: nobody.
  RunObserver* observer = env->observer;
  StopSignal stop;
  // Statements executed more than once are prepared for a faster turn that
  // gives the same results; false keeps every turn on the textual expansion
  // (the differential test compares the two).
  bool compiledStatements = true;
  // Set by RaiseError: the run ended (or is ending) on a script error.
  bool errorReported = false;
  StatementErrors errors;
  // The statement executing now (the last one executed between turns), for
  // the position of errors and diagnostics; null before the first turn.
  const ScriptCommand* current = nullptr;

  // "FILE:LINE" of the current statement; empty when it has no position.
  std::string Position() const;
  // Hands a diagnostic (why a request or a pattern failed) to the host,
  // prefixed with the current statement's position.
  void Diagnose(std::string_view text);

  // Raises a script error: the run ends (the execution stack is emptied at
  // once) and the executor reports it with the statement's position before
  // anything else reaches the host. Outside a statement of the executor it
  // is reported at once.
  void RaiseError(std::string what, std::string reasonUtf8);
  // The same, as what a statement returns when it ends on the error.
  StatementResult Fail(std::string what, std::string reasonUtf8) {
    RaiseError(std::move(what), std::move(reasonUtf8));
    return StatementResult::Error();
  }

  // The worker thread with its suspend counter, messages and wake event.
  // Declared last so that it is torn down first.
  WorkerThread worker;

  // Stops the worker (as the host's stop does, whether or not it is paused)
  // and waits until it has ended.
  void StopWorkerAndWait();
};

// Marks the expansion of a statement's text, for the follow-on rule of
// StatementErrors.
class ExpansionScope {
 public:
  explicit ExpansionScope(ScriptContext& ctx) : errors_(ctx.errors) {
    if (errors_.expanding++ == 0) errors_.expansion = ++errors_.expansions;
  }
  ~ExpansionScope() { errors_.expanding -= 1; }
  ExpansionScope(const ExpansionScope&) = delete;
  ExpansionScope& operator=(const ExpansionScope&) = delete;

 private:
  StatementErrors& errors_;
};

}  // namespace velmar
