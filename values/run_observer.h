#pragma once
// Whoever watches a script run (the trace writer, the step debugger, the
// manager's "last error") is a RunObserver. The executor, the HTTP client,
// the pattern statements, the database statements and the host requests
// report to it what they do, in plain types, so that every layer of the core
// can reach it and no observer reaches into a subsystem.
//
// A script holds at most one observer (ScriptContext::observer, taken from
// EngineEnvironment::observer unless its host gives it its own); null when
// nobody listens, so an unobserved run pays one pointer test per report.
// Every call comes on the script's worker thread, inside the statement that
// caused it; an observer shared by several scripts must lock for itself.
// Every view is valid only during the call. Events have no position of their
// own: they belong to the statement last announced by BeforeStatement.
//
// New events are added as further virtual functions with empty bodies, so
// an observer written against an older list keeps compiling and working.

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace velmar {

class StopSignal;
class VariableTable;

// The statement about to run or just run.
struct RunStatement {
  uint32_t index = 0;        // in the program's statements
  std::string_view file;     // as the user named it; empty when not known
  uint32_t line = 0;         // from 1; 0 when not known
  uint32_t lastLine = 0;     // past `line` when continuation lines were joined
  std::string_view keyword;  // as the keyword table spells it
  std::string_view text;     // as written, before expansion
};

struct StatementOutcome {
  // The text the statement was handed after expansion; empty for the
  // statements that take their text as written or none.
  std::string_view argument;
  bool failed = false;  // the statement reported a script error
  int64_t elapsedNs = 0;
};

// One HTTP exchange of the script's client, complete or failed.
struct HttpExchangeReport {
  std::string_view method;
  std::string_view url;
  std::string_view requestBytes;  // head and body exactly as written to the socket
  std::string_view responseHead;  // status line and header lines as received
  std::string_view responseBody;  // as received on the wire (before decoding)
  uint64_t responseBodySize = 0;  // bytes of body received, even where not kept
  int status = 0;                 // 0 when no response arrived
  std::string_view failure;       // why it failed, in English; empty on success
  std::string_view proxy;         // "host:port" of the proxy used; empty without
  // Microseconds from the start of the exchange; -1 where the step did not
  // happen (a reused connection resolves no name, plain HTTP has no TLS).
  int64_t resolvedUs = -1, connectedUs = -1, tlsDoneUs = -1, firstByteUs = -1, totalUs = -1;
  std::string_view tlsVersion, tlsCipher, peerSubject, peerIssuer;
  std::string_view remoteAddress;
};

struct PatternMatchReport {
  std::string_view expression;  // the name of the stored expression
  std::string_view pattern;
  std::string_view subjectVariable;
  std::string_view subject;  // the text matched over
  // Byte spans [begin, end) in `subject`: each match with its captures, the
  // whole match first; -1 for a capture that took part in nothing.
  std::vector<std::vector<std::pair<int64_t, int64_t>>> matches;
};

struct DatabaseReport {
  std::string_view connection;
  std::string_view sql;
  int64_t rows = -1;  // returned or affected; -1 when not known
  int64_t elapsedNs = 0;
  std::string_view error;  // empty on success
};

struct HostRequestReport {
  int32_t code = 0;
  std::string_view text;    // what the script sent
  std::string_view answer;  // what came back (a prompt's input); may be empty
  bool secret = false;      // the answer is a password typed into a prompt
};

// One JavaScript evaluation: of the `js` statement in the host's engine, or
// of `jswindow` in a script window's page (its name in `window`).
struct JsEvaluationReport {
  std::string_view window;  // empty for the host's engine
  std::string_view code;    // as evaluated, after expansion
  std::string_view result;  // the value as text; empty when it failed
  std::string_view error;   // why it failed, as the engine says; may be empty
  bool failed = false;
  int64_t elapsedNs = 0;  // waiting for the engine included
};

class RunObserver {
 public:
  virtual ~RunObserver() = default;

  // The worker starts its run of `script` (the file as the user named it).
  virtual void RunStarted(int32_t /*scriptId*/, std::string_view /*script*/) {}
  // The run is over; nothing more comes from this script's run.
  virtual void RunEnded(int32_t /*scriptId*/) {}

  // Before each statement. May block (a debugger's pause): it must then
  // return once `stop.requested()` becomes true, and may use the stop's
  // abort hook to be woken (no request is in progress at this point; clear
  // the hook before returning). A statement whose announcement returns with
  // a stop requested does not run. `variables` may be read during the call.
  virtual void BeforeStatement(const RunStatement& /*statement*/, StopSignal& /*stop*/,
                               const VariableTable& /*variables*/) {}
  virtual void AfterStatement(const RunStatement& /*statement*/,
                              const StatementOutcome& /*outcome*/) {}
  // False: AfterStatement is not wanted, and the run does not time each
  // statement or keep its expanded text for it (what a debugger that only
  // stops the script saves on every statement).
  virtual bool WantsStatementOutcomes() const { return true; }
  // Whether the next run of this statement is to be timed (its outcome's
  // elapsedNs); asked after BeforeStatement. An observer that only counts
  // the runs of a hot statement saves the two clock reads; untimed
  // outcomes have elapsedNs -1.
  virtual bool TimesStatement(const RunStatement& /*statement*/) { return true; }

  // A script error ends the run: `what` the statement in short (script's
  // code page), `reason` in English.
  virtual void ScriptError(std::string_view /*what*/, std::string_view /*reason*/) {}
  // A library's diagnostic (why a request or a pattern failed), in English.
  virtual void Diagnostic(std::string_view /*text*/) {}

  virtual void VariableWritten(std::string_view /*name*/, std::string_view /*value*/) {}
  virtual void HttpExchange(const HttpExchangeReport& /*exchange*/) {}
  // A cookie the script's jar (shared=false) or the shared store took or
  // dropped; `value` empty for a removal.
  virtual void CookieChanged(bool /*shared*/, std::string_view /*domain*/,
                             std::string_view /*name*/, std::string_view /*value*/) {}
  virtual void PatternMatched(const PatternMatchReport& /*match*/) {}
  virtual void DatabaseStatement(const DatabaseReport& /*statement*/) {}
  virtual void JsEvaluated(const JsEvaluationReport& /*evaluation*/) {}
  // A function of a library the script loaded was called: the library by
  // the script's name for it, the arguments in the order the script wrote
  // them (type prefixes kept), the result as text.
  virtual void NativeCalled(std::string_view /*library*/, std::string_view /*function*/,
                            const std::vector<std::string_view>& /*arguments*/,
                            std::string_view /*result*/) {}
  virtual void HostRequest(const HostRequestReport& /*request*/) {}
  // The script took up a window event (the variables window_name,
  // window_event and window_value as its host set them); `handled`: it has
  // a section for the event and enters it.
  virtual void WindowEventTaken(std::string_view /*window*/, std::string_view /*event*/,
                                std::string_view /*value*/, bool /*handled*/) {}
};

}  // namespace velmar
