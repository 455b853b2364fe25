#include "engine/executor.h"

#include <chrono>
#include <climits>
#include <exception>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/compiled_statement.h"
#include "engine/host_requests.h"
#include "engine/keyword_table.h"
#include "engine/script_context.h"
#include "engine/statement_handlers.h"
#include "engine/statements/expansion.h"
#include "http/http_client.h"
#include "values/messages.h"
#include "values/text_file_ops.h"

namespace velmar {

namespace {

std::string Expanded(ScriptContext& ctx, const std::string& stored) {
  std::string text = stored;
  ExpandAndEvaluate(ctx, text);
  return text;
}


// Runs a statement of the keyword table's handlers with the text its
// argument mode asks for; `compiled` is its prepared form, if any. `seen`,
// when given, gets the expanded text (for the run's observer).
StatementResult Dispatch(ScriptContext& ctx, const ScriptCommand& command,
                         CompiledStatement* compiled, std::string* seen) {
  const KeywordRow& row = KeywordRowOf(command.id);
  if (!row.handler) return StatementResult::Continue();  // no keyword: the loader keeps none
  switch (row.mode) {
    case ArgumentMode::kExpanded: {
      std::string text;
      if (compiled && compiled->ExpandText(ctx, text)) {
        if (seen) *seen = text;
        return row.handler(ctx, text);
      }
      text = Expanded(ctx, command.text);
      if (seen) *seen = text;
      // The alert of a failed expansion comes before what the statement
      // then does with the broken text.
      if (!ctx.errors.pending.empty()) ReportRaisedErrors(ctx);
      return row.handler(ctx, text);
    }
    case ArgumentMode::kRaw:
      return row.handler(ctx, command.text);
    case ArgumentMode::kNone:
      break;
  }
  return row.handler(ctx, std::string());
}

// Tells the run's observer of the window event the script takes up, as its
// variables hold it.
void ReportWindowEvent(ScriptContext& ctx, bool handled) {
  // Copies: reading a name the host did not set adds it to the table.
  const std::string window = ctx.variables.Get("window_name");
  const std::string event = ctx.variables.Get("window_event");
  const std::string value = ctx.variables.Get("window_value");
  ctx.observer->WindowEventTaken(window, event, value, handled);
}

// One run of one script. Keeps, next to the context's loop stack, how many
// records start and end at each index, so that a `{` or `}` can tell in
// constant time whether it belongs to a record below the top.
class Run {
 public:
  explicit Run(ScriptContext& ctx)
      : ctx_(ctx), commands_(ctx.program->commands), last_(ctx.lastIndex) {
    if (last_ >= commands_.size()) last_ = static_cast<uint32_t>(commands_.size() - 1);
    if (ctx.program->structure.Covers(commands_.size(), last_)) structure_ = &ctx.program->structure;
    for (const LoopRecord& record : ctx.loopStack) Count(record, +1);
  }

  void Execute() {
    ExecutionStack& stack = ctx_.executionStack;
    WorkerThread& worker = ctx_.worker;
    while (!stack.empty()) {
      if (worker.needsAttention()) {
        ReachSafePoint(ctx_);
        int32_t message = 0;
        if (worker.takeMessage(message)) {
          if (message == WM_SCRIPT_STOP) {
            sendHostRequest(ctx_, REQ_STATE, "stop");
            sendHostRequest(ctx_, REQ_STATE, "exit");
            return;
          }
          if (message == WM_SCRIPT_EVENT && ctx_.eventDepth == 0 && !StartEvent()) continue;
        }
      }
      if (ctx_.remainingSleep > 0) {
        Sleep();
        continue;
      }
      if (!Turn()) return;
    }
    sendHostRequest(ctx_, REQ_STATE, "exit");
  }

 private:
  // Enters the event section of the host's latest window event. False when
  // the script suspended itself instead and the turn starts over. Kept out
  // of line: events are rare, and the loop of turns compiles as tight as
  // without it.
  [[gnu::noinline]] bool StartEvent() {
    sendHostRequest(ctx_, REQ_EVENT_VARS);
    std::string label = "<on_";
    label += ctx_.variables.Get("window_name");
    label += "_";
    label += ctx_.variables.Get("window_event");
    label += ">";
    const uint32_t* index = ctx_.program->FindLabel(label);
    if (ctx_.observer) ReportWindowEvent(ctx_, index != nullptr);
    if (index) {
      ctx_.eventDepth += 1;
      ctx_.executionStack.push_back(*index);
      return true;
    }
    if (ctx_.suspendFlag) {
      SuspendSelf();
      return false;
    }
    return true;
  }

  void SuspendSelf() {
    sendHostRequest(ctx_, REQ_SUSPENDED);
    ctx_.worker.suspendSelf();
  }

  void Sleep() {
    const auto before = std::chrono::steady_clock::now();
    if (!ctx_.worker.sleepFor(ctx_.remainingSleep)) {
      ctx_.remainingSleep = 0;
      return;
    }
    const long long elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - before)
                                  .count();
    ctx_.remainingSleep =
        elapsed >= ctx_.remainingSleep ? 0 : static_cast<int32_t>(ctx_.remainingSleep - elapsed);
  }

  void Count(const LoopRecord& record, int delta) {
    starts_[record.start] += delta;
    ends_[record.end] += delta;
  }
  void PushLoop(LoopRecord record) {
    Count(record, +1);
    ctx_.loopStack.push_back(std::move(record));
  }
  void PopLoop() {
    Count(ctx_.loopStack.back(), -1);
    ctx_.loopStack.pop_back();
  }
  // The loop record whose start (or end) is `i`, with the stale records above
  // it popped; nullptr when no record has it.
  LoopRecord* LoopAt(uint32_t i, bool atStart) {
    if (ctx_.loopStack.empty()) return nullptr;
    auto matches = [&](const LoopRecord& r) { return (atStart ? r.start : r.end) == i; };
    if (matches(ctx_.loopStack.back())) return &ctx_.loopStack.back();
    auto& counts = atStart ? starts_ : ends_;
    auto it = counts.find(i);
    if (it == counts.end() || it->second <= 0) return nullptr;
    while (!matches(ctx_.loopStack.back())) PopLoop();
    return &ctx_.loopStack.back();
  }

  void Push(uint32_t index) { ctx_.executionStack.push_back(index); }

  // The program's block tables; made for this run, on first need, when the
  // program has none for its last index (a program built by hand).
  const BlockStructure& Structure() {
    if (!structure_) {
      ownStructure_ = BlockStructure(commands_, last_);
      structure_ = &ownStructure_;
    }
    return *structure_;
  }
  // The end of the block owned by statement a.
  uint32_t BlockEnd(uint32_t a) { return Structure().BlockEnd(a); }
  // Enters the plain block whose `{` is at b: continues after its matching
  // `}` (when there is one before the final `exit`) once the block is left.
  void EnterBlock(uint32_t b) {
    const uint32_t close = Structure().CloseAfter(b);
    if (close != BlockStructure::kNone && close < last_) Push(close + 1);
    Push(b + 1);
  }

  // The prepared form of statement i, made on its second execution (a
  // statement run once gains nothing from it); nullptr before that and when
  // the context keeps to the textual expansion.
  static constexpr uint32_t kNoStatement = UINT32_MAX;
  CompiledStatement* Compiled(uint32_t i) {
    if (i < compiled_.size() && compiled_[i]) return compiled_[i].get();
    return Prepare(i);
  }
  [[gnu::noinline]] CompiledStatement* Prepare(uint32_t i) {
    if (!ctx_.compiledStatements || i >= commands_.size()) return nullptr;
    if (compiled_.empty()) {
      compiled_.resize(commands_.size());
      runs_.assign(commands_.size(), 0);
    }
    std::unique_ptr<CompiledStatement>& slot = compiled_[i];
    if (!slot) {
      if (runs_[i] == 0) {
        runs_[i] = 1;
        return nullptr;
      }
      slot = std::make_unique<CompiledStatement>(ctx_.codePage(), commands_[i]);
    }
    return slot.get();
  }

  // The expanded text of control statement i, whose stored text is
  // `stored`, into `text`. False when the expansion raised an error: the run
  // is over then (the execution stack is empty), so the statement must
  // neither push where the flow goes next nor retract from the emptied stack.
  bool ControlText(uint32_t i, const std::string& stored, std::string& text) {
    CompiledStatement* compiled = Compiled(i);
    if (compiled && compiled->ExpandText(ctx_, text)) {
      if (seen_) *seen_ = text;
      return true;
    }
    text = Expanded(ctx_, stored);
    if (seen_) *seen_ = text;
    return !ctx_.errors.failed;
  }

  // Executes one statement; false when the run ends at once (`exit`).
  bool Turn() {
    if (ctx_.observer) return ObservedTurn();
    return PlainTurn();
  }

  RunStatement Describe(uint32_t i) const {
    const ScriptCommand& command = commands_[i];
    RunStatement statement;
    statement.index = i;
    statement.file = ctx_.program->FileOf(command);
    statement.line = command.line;
    statement.lastLine = command.lastLine;
    statement.keyword = KeywordOf(command.id);
    statement.text = command.text;
    return statement;
  }

  // A turn announced to the run's observer before and after. The observer
  // may hold the script in the announcement (a pause); a stop that ended
  // the wait keeps the statement from running, and the next turn takes the
  // stop.
  [[gnu::noinline]] bool ObservedTurn() {
    RunObserver& observer = *ctx_.observer;
    uint32_t i = ctx_.executionStack.back();
    if (i > last_) i = last_;
    const RunStatement statement = Describe(i);
    ctx_.current = &commands_[i];
    observer.BeforeStatement(statement, ctx_.stop, ctx_.variables);
    if (ctx_.stop.requested() && ctx_.worker.stopPending()) return true;
    // An observer that only stops the script (a debugger) spares the run
    // the clock and the copy of every expanded text.
    if (!observer.WantsStatementOutcomes()) return PlainTurn();
    std::string argument;
    seen_ = &argument;
    const bool timed = observer.TimesStatement(statement);
    const auto start =
        timed ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point();
    bool failed = false;
    const bool goOn = PlainTurn(&failed);
    seen_ = nullptr;
    StatementOutcome outcome;
    outcome.argument = argument;
    outcome.failed = failed;
    outcome.elapsedNs = timed ? std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    std::chrono::steady_clock::now() - start)
                                    .count()
                              : -1;
    if (commands_[i].id == stmt::kVar && !failed) ReportVar(observer, commands_[i].text);
    observer.AfterStatement(statement, outcome);
    return goOn;
  }

  // The variable a `var` statement wrote, when its name is written plainly
  // (a name built from other values is not expanded a second time).
  void ReportVar(RunObserver& observer, std::string_view text) {
    const std::size_t space = text.find_first_of(" \t");
    const std::string_view head = text.substr(0, space);
    if (head.size() <= 3 || head.substr(0, 2) != "[#" || head.back() != ']') return;
    const std::string_view name = head.substr(2, head.size() - 3);
    if (name.find('[') != std::string_view::npos) return;
    if (const std::string* value = ctx_.variables.Find(name)) {
      observer.VariableWritten(name, *value);
    }
  }

  // Inlined, with Step, into both turns: the loop of an unobserved run pays
  // no call.
  [[gnu::always_inline]] inline bool PlainTurn(bool* failedOut = nullptr) {
    ExecutionStack& stack = ctx_.executionStack;
    uint32_t& top = stack.back();
    uint32_t i = top;
    if (i > last_) i = last_;  // a block end computed past the final `exit`
    // The statement's entry becomes the one after it, as a pop and a push
    // would leave it, without the chunk checks of either.
    bool advanced = false;
    if (i < last_) {
      top = i + 1;
      advanced = true;
    } else {
      stack.pop_back();
    }
    const ScriptCommand& command = commands_[i];
    ctx_.current = &command;
    StatementErrors& errors = ctx_.errors;
    // Between statements nothing has failed and no expansion runs (each
    // statement that fails clears `failed` below), so a turn only marks
    // that a statement runs.
    errors.inStatement = true;
    StatementResult result;
    try {
      result = Step(i, command, advanced);
    } catch (const std::exception& e) {
      // A statement that fails unexpectedly (for example out of memory) ends
      // the run like a script error instead of taking the program down.
      std::string what(KeywordOf(command.id));
      if (!command.text.empty()) what += " " + command.text;
      ctx_.RaiseError(std::move(what), e.what());
      result = StatementResult::Error();
    }
    errors.inStatement = false;
    if (failedOut) *failedOut = errors.failed;
    if (errors.failed) {
      errors.failed = false;
      ReportRaisedErrors(ctx_);
      // A handler that raised an error and then went on may have pushed a
      // continuation after the stack was emptied; the run still ends here.
      stack.clear();
      return true;
    }
    switch (result.kind) {
      case StatementResult::Kind::kContinue:
      case StatementResult::Kind::kError:
        break;
      case StatementResult::Kind::kJump:
        Push(result.target);
        break;
      case StatementResult::Kind::kEnd:
        return false;
    }
    return true;
  }

  [[gnu::always_inline]] inline StatementResult Step(uint32_t i, const ScriptCommand& command,
                                                     bool advanced) {
    ExecutionStack& stack = ctx_.executionStack;
    auto retract = [&] {
      if (advanced) stack.pop_back();
      advanced = false;
    };
    switch (command.id) {
      case stmt::kIf: {
        retract();
        if (i >= last_) break;
        std::string condition;
        if (!ControlText(i, command.text, condition)) return StatementResult::Error();
        const bool truth = IsTrueCondition(condition);
        const uint32_t b = i + 1;
        uint32_t e = BlockEnd(i);
        if (truth) {
          if (e <= last_ && commands_[e].id == stmt::kElse) e = BlockEnd(e);
          Push(e <= last_ ? e : last_);
          Push(b + 1);
        } else if (e <= last_) {
          Push(e);
        }
        break;
      }
      case stmt::kBlockOpen: {
        if (LoopRecord* loop = LoopAt(i, true)) {
          // The condition is prepared with the `while` that made the record.
          const uint32_t w = loop->statement;
          const bool ownWhile = w < commands_.size() && commands_[w].id == stmt::kWhile;
          bool zero = false;
          CompiledStatement* compiled = ownWhile ? Compiled(w) : nullptr;
          if (!compiled || !compiled->ExpandsToZero(ctx_, zero)) {
            // The condition is the `while`'s text, not an argument of the
            // `{`: an observer sees none here, as on the prepared turns.
            std::string condition;
            std::string* const seen = std::exchange(seen_, nullptr);
            const bool expanded = ControlText(kNoStatement, loop->condition, condition);
            seen_ = seen;
            if (!expanded) return StatementResult::Error();
            zero = CodePage::Trim(condition) == "0";
          }
          if (zero) {
            retract();
            PopLoop();
          }
          break;
        }
        retract();
        if (i < last_) EnterBlock(i);
        break;
      }
      case stmt::kBlockClose: {
        retract();
        if (LoopRecord* loop = LoopAt(i, false)) Push(loop->start);
        break;
      }
      case stmt::kWhile: {
        retract();
        const uint32_t start = i + 1;
        const uint32_t end = BlockEnd(i) - 1;
        Push(end + 1);
        Push(start);
        PushLoop(LoopRecord{start, end, command.text, i});
        break;
      }
      case stmt::kSwitch: {
        retract();
        if (i >= last_) break;
        std::string value;
        if (!ControlText(i, command.text, value)) return StatementResult::Error();
        return Switch(i, value);
      }
      case stmt::kReturn:
      case stmt::kBreak:
        retract();
        if (ctx_.eventDepth > 0) {
          ctx_.eventDepth -= 1;
          if (ctx_.eventDepth == 0 && ctx_.suspendFlag) SuspendSelf();
        }
        break;
      case stmt::kGoto: {
        std::string label;
        if (!ControlText(i, command.text, label)) return StatementResult::Error();
        if (ctx_.eventDepth > 0) return ctx_.Fail("GOTO " + label, msg::kGotoInEvent);
        retract();
        const uint32_t* index = ctx_.program->FindLabel(label);
        if (!index) return ctx_.Fail("GOTO " + label, msg::kUndefinedSection);
        return StatementResult::Jump(*index);
      }
      case stmt::kCall: {
        std::string label;
        if (!ControlText(i, command.text, label)) return StatementResult::Error();
        const uint32_t* index = ctx_.program->FindLabel(label);
        if (!index) return ctx_.Fail("CALL " + label, msg::kUndefinedSection);
        if (ctx_.eventDepth > 0) ctx_.eventDepth += 1;
        return StatementResult::Jump(*index);
      }
      case stmt::kExit:
        sendHostRequest(ctx_, REQ_STATE, "exit");
        return StatementResult::End();
      case stmt::kPause: {
        sendHostRequest(ctx_, REQ_STATE, "sleep");
        std::string duration;
        if (!ControlText(i, command.text, duration)) return StatementResult::Error();
        const long long ms = LeadingInteger(duration);
        ctx_.remainingSleep = ms <= 0 ? 0 : (ms > INT32_MAX ? INT32_MAX : static_cast<int32_t>(ms));
        if (ctx_.remainingSleep > 0) Sleep();
        break;
      }
      case stmt::kSuspend:
        ctx_.suspendFlag = true;
        if (ctx_.eventDepth == 0) SuspendSelf();
        break;
      case stmt::kResume:
        ctx_.suspendFlag = false;
        if (ctx_.eventDepth == 0) return ctx_.Fail("RESUME", msg::kResumeOutsideEvent);
        break;
      case stmt::kElse:
      case stmt::kCase:
      case stmt::kDefault:
      case stmt::kLabel:
      case stmt::kUsing:
        break;
      case stmt::kVar: {
        CompiledStatement* compiled = Compiled(i);
        if (!compiled || !compiled->RunVar(ctx_)) return ExecuteVar(ctx_, command.text);
        break;
      }
      default:
        return Dispatch(ctx_, command,
                        ArgumentModeOf(command.id) == ArgumentMode::kExpanded ? Compiled(i) : nullptr,
                        seen_);
    }
    return StatementResult::Continue();
  }

  // The `switch` search: only the `case` lines of the switch's own level are
  // expanded, in order up to the first match, so no other statement has side
  // effects before the match.
  StatementResult Switch(uint32_t i, const std::string& value) {
    bool matched = false;
    uint32_t match = 0;
    const BlockStructure& structure = Structure();
    for (uint32_t k = structure.FirstArm(i); k != BlockStructure::kNone && !matched;
         k = structure.NextArm(k)) {
      const ScriptCommand& c = commands_[k];
      bool hit = c.id == stmt::kDefault;
      if (c.id == stmt::kCase) {
        std::string text;
        if (!ControlText(k, c.text, text)) return StatementResult::Error();
        hit = text == value;
      }
      if (hit) {
        matched = true;
        match = k < last_ ? k + 1 : last_;
      }
    }
    const uint32_t close = structure.CloseAfter(i + 1);
    if (close != BlockStructure::kNone && close < last_) Push(close + 1);
    if (matched) Push(match);
    return StatementResult::Continue();
  }

  ScriptContext& ctx_;
  const std::vector<ScriptCommand>& commands_;
  uint32_t last_;
  BlockStructure ownStructure_;
  const BlockStructure* structure_ = nullptr;
  std::vector<std::unique_ptr<CompiledStatement>> compiled_;
  std::vector<uint8_t> runs_;
  std::unordered_map<uint32_t, int> starts_;
  std::unordered_map<uint32_t, int> ends_;
  // Where the statement now running leaves its expanded text while an
  // observer watches; null otherwise.
  std::string* seen_ = nullptr;
};

// Tells the host of one script error: its error record (file, line, what,
// reason) and the alert the person running the script sees.
void reportScriptError(ScriptContext& ctx, const ScriptFault& fault) {
  const std::string& what = fault.what;
  const std::string& reasonUtf8 = fault.reason;
  if (ctx.observer) ctx.observer->ScriptError(what, msg::InEnglish(reasonUtf8));
  if (ctx.env->scriptError) {
    ScriptErrorReport report;
    if (ctx.program && ctx.current && ctx.current->line != 0) {
      report.file = ctx.program->FileOf(*ctx.current);
      report.line = ctx.current->line;
    }
    report.what = what;
    report.reason = msg::InEnglish(reasonUtf8);
    ctx.env->scriptError(ctx.id, report);
  }
  const CodePage& cp = ctx.codePage();
  std::string text = cp.FromUtf8(msg::kErrorPrefix);
  text += '"';
  text += what;
  text += "\"\r\n";
  text += cp.FromUtf8(msg::kReasonPrefix);
  text += cp.FromUtf8(reasonUtf8);
  sendHostRequest(ctx, REQ_ALERT, text);
}

}  // namespace

void ReportRaisedErrors(ScriptContext& ctx) {
  // Taken out first: the alert's own request must not find them again.
  std::vector<ScriptFault> faults;
  faults.swap(ctx.errors.pending);
  for (const ScriptFault& fault : faults) reportScriptError(ctx, fault);
}

bool IsTrueCondition(const std::string& expanded) {
  return !expanded.empty() && CodePage::Trim(expanded) != "0";
}

void ReachSafePoint(ScriptContext& ctx) {
  ctx.worker.safePoint(ctx.variables);
}

void runScript(ScriptContext& ctx) {
  ctx.stop.reset();
  ReachSafePoint(ctx);  // a worker is created suspended
  if (!ctx.program || ctx.program->commands.empty()) {
    ctx.executionStack.clear();
    sendHostRequest(ctx, REQ_STATE, "exit");
    return;
  }
  RunObserver* observer = ctx.observer;
  if (observer) {
    const std::vector<std::string>& files = ctx.program->files;
    observer->RunStarted(ctx.id, files.empty() ? std::string_view() : files.front());
  }
  ctx.http.SetObserver(observer);
  Run(ctx).Execute();
  if (observer) observer->RunEnded(ctx.id);
}

}  // namespace velmar
