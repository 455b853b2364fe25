#pragma once
// All interpreter state of one running script. Only the script's worker
// thread touches it, except where the host writes variables while the worker
// waits inside a request or is suspended.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "data/connection_table.h"
#include "engine/engine_environment.h"
#include "engine/execution_stack.h"
#include "engine/script_program.h"
#include "engine/worker_thread.h"
#include "ext/native_calls.h"
#include "http/http_client.h"
#include "platform/stop_signal.h"
#include "regex/named_regex.h"
#include "regex/utf16_text_cache.h"
#include "values/result_set_table.h"
#include "values/variable_table.h"

namespace velmar {

class ScriptHost;

struct LoopRecord {
  uint32_t start = 0;     // the `{` that follows `while`
  uint32_t end = 0;       // its matching `}`
  std::string condition;  // the `while` text as stored
  uint32_t statement = 0;  // the `while` itself
};

struct ScriptContext {
  explicit ScriptContext(const EngineEnvironment& environment) : env(&environment) {}
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
  RegexTable regexes;
  Utf16TextCache regexTexts;  // the last text `match` ran over, in UTF-16
  HttpClient http;
  ConnectionTable connections;
  ResultSetTable resultSets;
  LibraryTable libraries;
  EntryPointCache entryPoints;
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
  // Set by reportScriptError: the run ended (or is ending) on a script error.
  bool errorReported = false;
  // The statement executing now (the last one executed between turns), for
  // the position of errors and diagnostics; null before the first turn.
  const ScriptCommand* current = nullptr;

  // "FILE:LINE" of the current statement; empty when it has no position.
  std::string Position() const;
  // Hands a diagnostic (why a request or a pattern failed) to the host,
  // prefixed with the current statement's position.
  void Diagnose(std::string_view text) const;

  // The worker thread with its suspend counter, messages and wake event.
  // Declared last so that it is torn down first.
  WorkerThread worker;

  // Stops the worker (as the host's stop does, whether or not it is paused)
  // and waits until it has ended.
  void StopWorkerAndWait();
};

}  // namespace velmar
