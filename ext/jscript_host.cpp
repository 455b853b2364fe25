#include "ext/jscript_host.h"

#include <duktape.h>

#include <exception>
#include <memory>
#include <type_traits>

#include "ext/js_heap.h"
#include "values/utf8.h"

namespace velmar {

namespace {

// Hidden keys (Duktape hides property names starting with 0xFF from
// scripts).
constexpr char kStringValueOf[] = "\xFFvelmarStringValueOf";
constexpr char kNumberValueOf[] = "\xFFvelmarNumberValueOf";
constexpr char kBooleanValueOf[] = "\xFFvelmarBooleanValueOf";
constexpr char kBindingKey[] = "\xFFvelmarBinding";
constexpr char kMemberKey[] = "\xFFvelmarMember";

std::string EngineToCodePage(const char* data, std::size_t size, const CodePage& cp) {
  if (!data) return {};
  return cp.FromUtf16(utf8::FromCesu8(data, size));
}

std::string CodePageToEngine(const std::string& text, const CodePage& cp) {
  // Duktape keeps texts as CESU-8, as ECMAScript's string model of UTF-16
  // units wants.
  std::string out;
  utf8::AppendCesu8(cp.ToUtf16(text), out);
  return out;
}

// Line n (from 1) of a source text, without its line end.
std::string SourceLine(const std::string& source, long line) {
  if (line < 1) return {};
  std::size_t start = 0;
  for (long n = 1; n < line; ++n) {
    start = source.find('\n', start);
    if (start == std::string::npos) return {};
    ++start;
  }
  std::size_t end = source.find('\n', start);
  if (end == std::string::npos) end = source.size();
  if (end > start && source[end - 1] == '\r') --end;
  return source.substr(start, end - start);
}

std::string ComposeErrorText(const std::string& description, const std::string& lineText, long line,
                             const CodePage& cp) {
  std::string text =
      "Error: " + description + ", " + lineText + "; in line " + std::to_string(line);
  return std::string(cp.CutAtCharacter(text, JScriptHost::kErrorTextLimit));
}

// The steps below run inside the engine (protected calls). They are plain C
// callbacks over plain records: an engine error jumps out of them, so
// nothing in their frames may need a destructor.

struct CodeCall {
  const char* source = nullptr;
  std::size_t sourceSize = 0;
  int failed = 0;
  double line = 0;
  int type = 0;  // JScriptValue::Type
};

// With the thrown value on top: replaces it by its description and notes
// the line the engine gives for it.
void DescribeThrown(duk_context* ctx, CodeCall* call) {
  call->failed = 1;
  if (duk_is_error(ctx, -1)) {
    duk_get_prop_string(ctx, -1, "lineNumber");
    if (duk_is_number(ctx, -1)) call->line = duk_get_number(ctx, -1);
    duk_pop(ctx);
  }
  duk_safe_to_string(ctx, -1);
}

// Tries one of the saved valueOf functions of the wrapper classes on the
// value at idx; they throw for anything that is not their own kind of
// object.
bool UnwrapWith(duk_context* ctx, duk_idx_t idx, const char* key) {
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, key);
  duk_remove(ctx, -2);
  duk_dup(ctx, idx);
  if (duk_pcall_method(ctx, 0) == DUK_EXEC_SUCCESS) {
    duk_replace(ctx, idx);
    return true;
  }
  duk_pop(ctx);
  return false;
}

// Replaces the value on top by its text and notes its type.
void ConvertResult(duk_context* ctx, CodeCall* call) {
  const duk_idx_t idx = duk_get_top_index(ctx);
  using Type = JScriptValue::Type;
  switch (duk_get_type(ctx, idx)) {
    case DUK_TYPE_UNDEFINED:
    case DUK_TYPE_NONE:
      call->type = static_cast<int>(Type::kUndefined);
      duk_push_string(ctx, "");
      duk_replace(ctx, idx);
      return;
    case DUK_TYPE_NULL:
      call->type = static_cast<int>(Type::kNull);
      duk_push_string(ctx, "");
      duk_replace(ctx, idx);
      return;
    case DUK_TYPE_BOOLEAN:
      call->type = static_cast<int>(Type::kBoolean);
      break;
    case DUK_TYPE_NUMBER:
      call->type = static_cast<int>(Type::kNumber);
      break;
    case DUK_TYPE_STRING:
      if (duk_is_symbol(ctx, idx)) {
        call->type = static_cast<int>(Type::kObject);
        duk_push_string(ctx, "");
        duk_replace(ctx, idx);
        return;
      }
      call->type = static_cast<int>(Type::kString);
      break;
    default:
      if (UnwrapWith(ctx, idx, kStringValueOf)) {
        call->type = static_cast<int>(Type::kString);
      } else if (UnwrapWith(ctx, idx, kNumberValueOf)) {
        call->type = static_cast<int>(Type::kNumber);
      } else if (UnwrapWith(ctx, idx, kBooleanValueOf)) {
        call->type = static_cast<int>(Type::kBoolean);
      } else {
        call->type = static_cast<int>(Type::kObject);
        duk_push_string(ctx, "");
        duk_replace(ctx, idx);
        return;
      }
      break;
  }
  duk_to_string(ctx, idx);
}

// Saves what result conversion relies on before any script can replace it.
duk_ret_t SetupStep(duk_context* ctx, void*) {
  duk_push_global_stash(ctx);
  const char* classes[] = {"String", "Number", "Boolean"};
  const char* keys[] = {kStringValueOf, kNumberValueOf, kBooleanValueOf};
  for (int i = 0; i < 3; ++i) {
    duk_get_global_string(ctx, classes[i]);
    duk_get_prop_string(ctx, -1, "prototype");
    duk_get_prop_string(ctx, -1, "valueOf");
    duk_put_prop_string(ctx, -4, keys[i]);
    duk_pop_2(ctx);
  }
  duk_pop(ctx);
  return 0;
}

// Global code, like the engine's AddCode: leaves "" or the failure's
// description.
duk_ret_t AddCodeStep(duk_context* ctx, void* udata) {
  auto* call = static_cast<CodeCall*>(udata);
  if (duk_peval_lstring(ctx, call->source, call->sourceSize) != 0) {
    DescribeThrown(ctx, call);
    return 1;
  }
  duk_pop(ctx);
  duk_push_string(ctx, "");
  return 1;
}

// Calls the wrapper procedure with the source: leaves the result's text or
// the failure's description.
duk_ret_t RunEvalStep(duk_context* ctx, void* udata) {
  auto* call = static_cast<CodeCall*>(udata);
  duk_get_global_string(ctx, JScriptHost::kEvalProcedure);
  duk_push_lstring(ctx, call->source, call->sourceSize);
  if (duk_pcall(ctx, 1) != DUK_EXEC_SUCCESS) {
    DescribeThrown(ctx, call);
    return 1;
  }
  ConvertResult(ctx, call);
  return 1;
}

// The names of the global functions, each followed by a NUL.
duk_ret_t ProceduresStep(duk_context* ctx, void*) {
  duk_push_string(ctx, "");
  duk_push_global_object(ctx);
  duk_enum(ctx, -1, DUK_ENUM_OWN_PROPERTIES_ONLY);
  while (duk_next(ctx, -1, 1)) {
    if (duk_is_function(ctx, -1)) {
      duk_dup(ctx, 0);
      duk_dup(ctx, -3);
      duk_push_lstring(ctx, "", 1);
      duk_concat(ctx, 3);
      duk_replace(ctx, 0);
    }
    duk_pop_2(ctx);
  }
  duk_pop_2(ctx);
  return 1;
}

}  // namespace

struct JScriptHost::Binding {
  std::string name;  // as the engine keeps it
  std::vector<std::string> members;
  JScriptHostObject* object = nullptr;
  bool addMembers = false;
  const CodePage* cp = nullptr;
  // The answer of the last member call, kept here so that the engine reads
  // it after every C++ object of the call is gone (pushing it may throw).
  std::string answer;
};

namespace {

// Collects the arguments of a member call (already texts) and asks the
// object. Never lets an exception reach the engine.
bool InvokeMember(duk_context* ctx, JScriptHost::Binding* binding, duk_idx_t argc,
                  duk_idx_t memberIdx) noexcept {
  try {
    const CodePage& cp = *binding->cp;
    std::vector<std::string> arguments;
    arguments.reserve(argc);
    for (duk_idx_t i = 0; i < argc; ++i) {
      duk_size_t size = 0;
      const char* data = duk_get_lstring(ctx, i, &size);
      arguments.push_back(EngineToCodePage(data, size, cp));
    }
    duk_size_t size = 0;
    const char* data = duk_get_lstring(ctx, memberIdx, &size);
    const std::string member = EngineToCodePage(data, size, cp);
    std::string result;
    if (!binding->object->call(member, arguments, result)) return false;
    binding->answer = CodePageToEngine(result, cp);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

duk_ret_t HostMemberCall(duk_context* ctx) {
  const duk_idx_t argc = duk_get_top(ctx);
  for (duk_idx_t i = 0; i < argc; ++i) duk_safe_to_string(ctx, i);
  duk_push_current_function(ctx);
  duk_get_prop_string(ctx, -1, kBindingKey);
  auto* binding = static_cast<JScriptHost::Binding*>(duk_get_pointer(ctx, -1));
  duk_pop(ctx);
  duk_get_prop_string(ctx, -1, kMemberKey);
  if (!binding) return DUK_RET_ERROR;
  if (!InvokeMember(ctx, binding, argc, duk_get_top_index(ctx))) return DUK_RET_ERROR;
  duk_push_lstring(ctx, binding->answer.data(), binding->answer.size());
  return 1;
}

duk_ret_t BindObjectStep(duk_context* ctx, void* udata) {
  auto* binding = static_cast<JScriptHost::Binding*>(udata);
  duk_push_global_object(ctx);
  duk_push_object(ctx);
  for (const std::string& member : binding->members) {
    duk_push_c_function(ctx, &HostMemberCall, DUK_VARARGS);
    duk_push_pointer(ctx, binding);
    duk_put_prop_string(ctx, -2, kBindingKey);
    duk_push_lstring(ctx, member.data(), member.size());
    duk_put_prop_string(ctx, -2, kMemberKey);
    if (binding->addMembers) {
      duk_dup(ctx, -1);
      duk_put_prop_lstring(ctx, -4, member.data(), member.size());
    }
    duk_put_prop_lstring(ctx, -2, member.data(), member.size());
  }
  duk_put_prop_lstring(ctx, -2, binding->name.data(), binding->name.size());
  duk_pop(ctx);
  return 0;
}

const CodePage& DefaultCodePage() {
  return CodePage::Get(CodePage::kUtf8);
}

}  // namespace

// What one step answered: the protected call's outcome, the record the step
// filled in and the text it left on the stack (engine encoding).
struct JScriptHost::StepOutcome {
  int rc = DUK_EXEC_ERROR;
  bool noEngine = false;
  CodeCall call;
  std::string text;
};

JScriptHost::JScriptHost() : heap_(std::make_unique<JsHeap>()) {
  if (heap_->context() && heap_->protectedCall(&SetupStep, nullptr, 0, 0, 0) != DUK_EXEC_SUCCESS) {
    heap_->reset();
    heap_->protectedCall(&SetupStep, nullptr, 0, 0, 0);
  }
}

JScriptHost::~JScriptHost() = default;

bool JScriptHost::available() const {
  return heap_->context() != nullptr;
}

// Runs a step that leaves one text on the stack. False when the step could
// not run to an answer (errorText() says why): the time limit ran out, the
// script was stopped, the engine is missing, busy or was lost to a fatal error (and is restored).
bool JScriptHost::runStep(StepFunction step, const std::string& source, StepOutcome& outcome,
                          const StopSignal* stop) {
  static_assert(std::is_same_v<StepFunction, duk_safe_call_function>);
  // A heap that could not be created (or recreated) is tried once more.
  if (!heap_->context() && !restoring_) restoreEngine();
  duk_context* ctx = heap_->context();
  if (!ctx) {
    outcome.noEngine = true;
    error_ = ComposeErrorText("the engine could not be created", "", 0, DefaultCodePage());
    return true;
  }
  outcome.call.source = source.data();
  outcome.call.sourceSize = source.size();
  outcome.rc = heap_->protectedCall(step, &outcome.call, 0, 1, timeLimitMs_, stop);
  if (outcome.rc == JsHeap::kBusy) {
    error_ =
        ComposeErrorText("the engine is busy with another evaluation", "", 0, DefaultCodePage());
    return false;
  }
  if (outcome.rc == JsHeap::kLost) {
    const std::string error = ComposeErrorText(
        std::string("the engine failed: ") + heap_->fatalMessage(), "", 0, DefaultCodePage());
    if (!restoring_) restoreEngine();
    error_ = error;
    return false;
  }
  duk_size_t size = 0;
  const char* data = duk_get_lstring(ctx, -1, &size);
  if (data) outcome.text.assign(data, size);
  duk_pop(ctx);
  if (heap_->stopped()) {
    error_ = ComposeErrorText("the evaluation was stopped", "", 0, DefaultCodePage());
    return false;
  }
  if (heap_->timedOut()) {
    error_ =
        ComposeErrorText("the evaluation ran longer than " + std::to_string(timeLimitMs_) + " ms",
                         "", 0, DefaultCodePage());
    return false;
  }
  return true;
}

bool JScriptHost::loadEvalWrapper() {
  error_.clear();
  const CodePage& cp = DefaultCodePage();
  const std::string wrapper = kEvalWrapper;
  StepOutcome outcome;
  if (!runStep(&AddCodeStep, wrapper, outcome) || outcome.noEngine) return false;
  if (outcome.rc != DUK_EXEC_SUCCESS) {
    error_ = ComposeErrorText("the engine refused the code", "", 0, cp);
    return false;
  }
  if (outcome.call.failed) {
    const long line = static_cast<long>(outcome.call.line);
    error_ = ComposeErrorText(EngineToCodePage(outcome.text.data(), outcome.text.size(), cp),
                              SourceLine(wrapper, line), line, cp);
    return false;
  }
  wrapperLoaded_ = true;
  return rebuildProcedures();
}

bool JScriptHost::rebuildProcedures() {
  procedures_.clear();
  StepOutcome outcome;
  if (!runStep(&ProceduresStep, {}, outcome) || outcome.rc != DUK_EXEC_SUCCESS) return false;
  const std::string& joined = outcome.text;
  std::size_t start = 0;
  while (start < joined.size()) {
    std::size_t end = joined.find('\0', start);
    if (end == std::string::npos) end = joined.size();
    procedures_.push_back(EngineToCodePage(joined.data() + start, end - start, DefaultCodePage()));
    start = end + 1;
  }
  return true;
}

bool JScriptHost::runEval(const std::string& source, const CodePage& cp, JScriptValue& result,
                          const StopSignal* stop) {
  error_.clear();
  bool hasWrapper = false;
  for (const std::string& name : procedures_) {
    if (name == kEvalProcedure) hasWrapper = true;
  }
  if (!hasWrapper) return false;

  StepOutcome outcome;
  if (!runStep(&RunEvalStep, CodePageToEngine(source, cp), outcome, stop) || outcome.noEngine) {
    return false;
  }
  if (outcome.rc != DUK_EXEC_SUCCESS) {
    error_ = ComposeErrorText("the engine could not run the evaluation", "", 0, cp);
    return false;
  }
  std::string text = EngineToCodePage(outcome.text.data(), outcome.text.size(), cp);
  if (outcome.call.failed) {
    const long line = static_cast<long>(outcome.call.line);
    error_ = ComposeErrorText(text, SourceLine(source, line), line, cp);
    return false;
  }
  result.type = static_cast<JScriptValue::Type>(outcome.call.type);
  result.text = std::move(text);
  return true;
}

bool JScriptHost::evalExpression(const std::string& text, const CodePage& cp, std::string& result,
                                 const StopSignal* stop) {
  if (!wrapperLoaded_ && !loadEvalWrapper()) return false;
  JScriptValue value;
  if (!runEval(text, cp, value, stop)) return false;
  std::string converted;
  if (!JScriptValueToText(value, converted)) {
    error_ = ComposeErrorText("the value has no text", SourceLine(text, 1), 1, cp);
    return false;
  }
  result = std::move(converted);
  return true;
}

bool JScriptHost::addNamedObject(const std::string& name, JScriptHostObject* object,
                                 bool addMembers, const CodePage& cp) {
  error_.clear();
  if (!object) return false;
  auto binding = std::make_unique<Binding>();
  binding->name = CodePageToEngine(name, cp);
  for (const std::string& member : object->members()) {
    binding->members.push_back(CodePageToEngine(member, cp));
  }
  binding->object = object;
  binding->addMembers = addMembers;
  binding->cp = &cp;
  if (!bindObject(*binding)) return false;
  bindings_.push_back(std::move(binding));
  return true;
}

bool JScriptHost::bindObject(Binding& binding) {
  if (!heap_->context()) return false;
  const int rc = heap_->protectedCall(&BindObjectStep, &binding, 0, 0, timeLimitMs_);
  if (rc == JsHeap::kLost) {
    if (!restoring_) restoreEngine();
    return false;
  }
  return rc == DUK_EXEC_SUCCESS;
}

// After a fatal error: a fresh heap with what the host had put into the old
// one. Globals the scripts made are gone with it.
bool JScriptHost::restoreEngine() {
  procedures_.clear();
  restoring_ = true;
  bool ok =
      heap_->reset() && heap_->protectedCall(&SetupStep, nullptr, 0, 0, 0) == DUK_EXEC_SUCCESS;
  if (ok) {
    const std::string error = error_;
    if (wrapperLoaded_) loadEvalWrapper();
    for (auto& binding : bindings_) bindObject(*binding);
    error_ = error;
  }
  restoring_ = false;
  return ok;
}

std::string ComposeJScriptErrorText(const std::string& description, const std::string& source,
                                    long line, const CodePage& cp) {
  return ComposeErrorText(description, SourceLine(source, line), line, cp);
}

bool JScriptValueToText(const JScriptValue& value, std::string& text) {
  if (value.type == JScriptValue::Type::kObject) return false;
  text = value.text;
  return true;
}

}  // namespace velmar
