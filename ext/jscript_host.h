#pragma once
// The JScript engine a host shares among its scripts.

#include <memory>
#include <string>
#include <vector>

#include "values/code_page.h"

struct duk_hthread;

namespace velmar {

class JsHeap;
class StopSignal;

// A value the engine answered, already carried over into the active code
// page.
struct JScriptValue {
  enum class Type { kUndefined, kNull, kBoolean, kNumber, kString, kObject };
  Type type = Type::kUndefined;
  // ECMAScript's own string conversion of the value (of the primitive value
  // for String, Number and Boolean objects); empty for other objects.
  std::string text;
};

// An error text as errorText() gives it: "Error: " + description + ", " +
// the source's line `line` + "; in line " + line, at most kErrorTextLimit
// bytes. For engines outside this host (the pages of script windows) that
// report their failures the same way.
std::string ComposeJScriptErrorText(const std::string& description, const std::string& source,
                                    long line, const CodePage& cp);

// The value as `return` receives it: undefined and null give the empty text;
// an object that is no String, Number or Boolean object has no text (false).
bool JScriptValueToText(const JScriptValue& value, std::string& text);

// Something of the host that scripts reach under a global name, with one
// function per member. Members are called on the evaluating thread, in the
// middle of the evaluation; they must not evaluate on the same host again
// (such a nested evaluation fails). Texts are in the code page given to
// addNamedObject.
class JScriptHostObject {
 public:
  virtual ~JScriptHostObject() = default;
  virtual std::vector<std::string> members() const = 0;
  // False makes the call throw an Error in the script.
  virtual bool call(const std::string& member, const std::vector<std::string>& arguments,
                    std::string& result) = 0;
};

class JScriptHost {
 public:
  // The wrapper every evaluation goes through, so that a `var` inside the
  // evaluated text stays local to one evaluation while an assignment without
  // `var` creates a global that later evaluations see.
  static constexpr char kEvalWrapper[] = "function qzk47eval(s){return eval(s);}";
  static constexpr char kEvalProcedure[] = "qzk47eval";

  JScriptHost();
  ~JScriptHost();
  JScriptHost(const JScriptHost&) = delete;
  JScriptHost& operator=(const JScriptHost&) = delete;

  // True when the engine could be created.
  bool available() const;

  // Adds the wrapper to the engine and rebuilds the procedure list; false
  // (with errorText()) when the engine is missing or refuses the code.
  bool loadEvalWrapper();
  // Runs the text through the wrapper; false when the wrapper is not loaded
  // or the evaluation failed (errorText() says why). A request on `stop`
  // (the stop signal of the evaluating script) ends the evaluation the way
  // the time limit does, within a few thousand instructions or at the next
  // allocation of a long built-in operation.
  bool runEval(const std::string& source, const CodePage& cp, JScriptValue& result,
               const StopSignal* stop = nullptr);
  // Evaluates a script text (active code page) the way the `js` statement
  // does: through the wrapper (loaded on first use), the value converted to
  // text. True with the result text, false with errorText() describing the
  // failure. Callers hold the JScript lock; `stop` is as for runEval.
  bool evalExpression(const std::string& text, const CodePage& cp, std::string& result,
                      const StopSignal* stop = nullptr);
  // Makes the object visible to scripts under the name; with addMembers its
  // members are globals as well. The object must outlive this host.
  bool addNamedObject(const std::string& name, JScriptHostObject* object, bool addMembers,
                      const CodePage& cp);

  // "Error: " + description + ", " + source line + "; in line " + line, at
  // most 256 bytes; empty when the last operation had no engine error.
  const std::string& errorText() const { return error_; }
  const std::vector<std::string>& procedureNames() const { return procedures_; }

  // Evaluations running longer than this fail, so a script that loops for
  // ever cannot hang its host (Config.ini `jstimeout`, in seconds). The
  // engine checks the limit while it executes script code; a single
  // built-in operation past the limit fails at its next large allocation,
  // and time spent in a host object's member counts but does not interrupt
  // it. After a time-out the engine carries on with its globals intact. Zero or less means no
  // limit.
  void setTimeLimitMs(int ms) { timeLimitMs_ = ms; }
  int timeLimitMs() const { return timeLimitMs_; }

  // Longest error text kept.
  static constexpr std::size_t kErrorTextLimit = 256;

  // The engine-side record of a named object.
  struct Binding;

 private:
  struct StepOutcome;
  using StepFunction = int (*)(duk_hthread*, void*);
  bool runStep(StepFunction step, const std::string& source, StepOutcome& outcome,
               const StopSignal* stop = nullptr);
  bool restoreEngine();
  bool bindObject(Binding& binding);
  bool rebuildProcedures();

  std::unique_ptr<JsHeap> heap_;
  std::vector<std::unique_ptr<Binding>> bindings_;
  std::vector<std::string> procedures_;
  bool wrapperLoaded_ = false;
  bool restoring_ = false;
  std::string error_;
  int timeLimitMs_ = 10000;
};

}  // namespace velmar
