#include "engine/executor.h"

#include <chrono>
#include <climits>
#include <exception>
#include <memory>
#include <unordered_map>
#include <vector>

#include "engine/compiled_statement.h"
#include "engine/host_requests.h"
#include "engine/keyword_table.h"
#include "engine/script_context.h"
#include "values/expansion.h"
#include "values/messages.h"
#include "values/text_file_ops.h"

namespace velmar {

namespace {

std::string Expanded(ScriptContext& ctx, const std::string& stored) {
  std::string text = stored;
  ExpandAndEvaluate(ctx, text);
  return text;
}

// Thrown when expanding the text of a control statement reported a script
// error. The run is over by then (the execution stack is empty), so the
// statement must not push where the flow goes next nor retract from the
// emptied stack: the exception takes it straight back to the turn.
struct StatementAbandoned {};

// The statement this thread's worker executes and whether it has reported a
// script error. The first error ends the run; a handler that goes on with
// the broken text and fails again must not add a second alert that names a
// follow-on fault instead of the cause.
struct CurrentStatement {
  const ScriptContext* ctx = nullptr;
  bool failed = false;
};
thread_local CurrentStatement tCurrentStatement;

// Runs a statement of the keyword table's handlers with the text its
// argument mode asks for; `compiled` is its prepared form, if any.
void Dispatch(ScriptContext& ctx, const ScriptCommand& command, CompiledStatement* compiled) {
  const KeywordRow& row = KeywordRowOf(command.id);
  if (!row.handler) return;  // no keyword: the loader keeps none of those
  switch (row.mode) {
    case ArgumentMode::kExpanded: {
      std::string text;
      if (compiled && compiled->ExpandText(ctx, text)) {
        row.handler(ctx, text);
      } else {
        row.handler(ctx, Expanded(ctx, command.text));
      }
      break;
    }
    case ArgumentMode::kRaw:
      row.handler(ctx, command.text);
      break;
    case ArgumentMode::kNone:
      row.handler(ctx, std::string());
      break;
  }
}

// One run of one script. Keeps, next to the context's loop stack, how many
// records start and end at each index, so that a `{` or `}` can tell in
// constant time whether it belongs to a record below the top.
class Run {
 public:
  explicit Run(ScriptContext& ctx)
      : ctx_(ctx), commands_(ctx.program->commands), last_(ctx.lastIndex) {
    if (last_ >= commands_.size()) last_ = static_cast<uint32_t>(commands_.size() - 1);
    for (const LoopRecord& record : ctx.loopStack) Count(record, +1);
  }

  void Execute() {
    std::vector<uint32_t>& stack = ctx_.executionStack;
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
  // the script suspended itself instead and the turn starts over.
  bool StartEvent() {
    sendHostRequest(ctx_, REQ_EVENT_VARS);
    std::string label = "<on_";
    label += ctx_.variables.Get("window_name");
    label += "_";
    label += ctx_.variables.Get("window_event");
    label += ">";
    if (const uint32_t* index = ctx_.program->FindLabel(label)) {
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

  // findBlockEnd, remembered per statement: the program never changes while
  // it runs, and an `if` inside a loop would otherwise rescan its block on
  // every turn.
  uint32_t BlockEnd(uint32_t a) {
    if (blockEnds_.empty()) blockEnds_.assign(commands_.size(), 0);
    uint32_t& cached = blockEnds_[a];
    if (cached == 0) cached = findBlockEnd(ctx_, a);  // never 0: it is at least a + 2
    return cached;
  }
  // enterBlock with the same memory: the block of the `{` at b is the block
  // that findBlockEnd of b - 1 finds, and "no matching `}`" is its b + 1.
  void EnterBlock(uint32_t b) {
    if (b == 0) {
      enterBlock(ctx_, b);
      return;
    }
    const uint32_t e = BlockEnd(b - 1);
    if (e != b + 1) Push(e);
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
  // `stored`; abandons the statement when the expansion reported an error.
  std::string ControlText(uint32_t i, const std::string& stored) {
    std::string text;
    CompiledStatement* compiled = Compiled(i);
    if (compiled && compiled->ExpandText(ctx_, text)) return text;
    text = Expanded(ctx_, stored);
    if (tCurrentStatement.failed) throw StatementAbandoned{};
    return text;
  }

  // Executes one statement; false when the run ends at once (`exit`).
  bool Turn() {
    std::vector<uint32_t>& stack = ctx_.executionStack;
    uint32_t i = stack.back();
    stack.pop_back();
    if (i > last_) i = last_;  // a block end computed past the final `exit`
    bool advanced = false;
    if (i < last_) {
      stack.push_back(i + 1);
      advanced = true;
    }
    const ScriptCommand& command = commands_[i];
    bool goOn = true;
    tCurrentStatement = {&ctx_, false};
    try {
      goOn = Step(i, command, advanced);
    } catch (const StatementAbandoned&) {
      // the error is reported and the stack emptied already
    } catch (const std::exception& e) {
      // A statement that fails unexpectedly (for example out of memory) ends
      // the run like a script error instead of taking the program down.
      std::string what(KeywordOf(command.id));
      if (!command.text.empty()) what += " " + command.text;
      reportScriptError(ctx_, what, e.what());
    }
    // A handler that reported an error and then went on may have pushed a
    // continuation after the stack was emptied; the run still ends here.
    if (tCurrentStatement.failed) stack.clear();
    tCurrentStatement = {};
    return goOn;
  }

  bool Step(uint32_t i, const ScriptCommand& command, bool advanced) {
    std::vector<uint32_t>& stack = ctx_.executionStack;
    auto retract = [&] {
      if (advanced) stack.pop_back();
      advanced = false;
    };
    switch (command.id) {
      case stmt::kIf: {
        retract();
        if (i >= last_) break;
        const bool truth = IsTrueCondition(ControlText(i, command.text));
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
            zero = CodePage::Trim(ControlText(kNoStatement, loop->condition)) == "0";
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
      case stmt::kSwitch:
        retract();
        if (i < last_) Switch(i, ControlText(i, command.text));
        break;
      case stmt::kReturn:
      case stmt::kBreak:
        retract();
        if (ctx_.eventDepth > 0) {
          ctx_.eventDepth -= 1;
          if (ctx_.eventDepth == 0 && ctx_.suspendFlag) SuspendSelf();
        }
        break;
      case stmt::kGoto: {
        const std::string label = ControlText(i, command.text);
        if (ctx_.eventDepth > 0) {
          reportScriptError(ctx_, "GOTO " + label, msg::kGotoInEvent);
          break;
        }
        retract();
        if (const uint32_t* index = ctx_.program->FindLabel(label)) {
          Push(*index);
        } else {
          reportScriptError(ctx_, "GOTO " + label, msg::kUndefinedSection);
        }
        break;
      }
      case stmt::kCall: {
        const std::string label = ControlText(i, command.text);
        if (const uint32_t* index = ctx_.program->FindLabel(label)) {
          Push(*index);
          if (ctx_.eventDepth > 0) ctx_.eventDepth += 1;
        } else {
          reportScriptError(ctx_, "CALL " + label, msg::kUndefinedSection);
        }
        break;
      }
      case stmt::kExit:
        sendHostRequest(ctx_, REQ_STATE, "exit");
        return false;
      case stmt::kPause: {
        sendHostRequest(ctx_, REQ_STATE, "sleep");
        const long long ms = LeadingInteger(ControlText(i, command.text));
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
        if (ctx_.eventDepth == 0) reportScriptError(ctx_, "RESUME", msg::kResumeOutsideEvent);
        break;
      case stmt::kElse:
      case stmt::kCase:
      case stmt::kDefault:
      case stmt::kLabel:
      case stmt::kUsing:
        break;
      case stmt::kVar: {
        CompiledStatement* compiled = Compiled(i);
        if (!compiled || !compiled->RunVar(ctx_)) ExecuteVar(ctx_, command.text);
        break;
      }
      default:
        Dispatch(ctx_, command, ArgumentModeOf(command.id) == ArgumentMode::kExpanded ? Compiled(i) : nullptr);
        break;
    }
    return true;
  }

  // The `switch` search: only the `case` lines of the switch's own level are
  // expanded, so no other statement has side effects before the match.
  void Switch(uint32_t i, const std::string& value) {
    int depth = 1;
    bool matched = false;
    uint32_t match = 0;
    for (uint32_t j = i + 2; j <= last_; ++j) {
      const ScriptCommand& c = commands_[j];
      if (c.id == stmt::kBlockOpen) {
        ++depth;
      } else if (c.id == stmt::kBlockClose) {
        if (--depth == 0) {
          if (j < last_) Push(j + 1);
          break;
        }
      } else if (depth == 1 && !matched) {
        bool hit = c.id == stmt::kDefault;
        if (c.id == stmt::kCase) hit = ControlText(j, c.text) == value;
        if (hit) {
          matched = true;
          match = j < last_ ? j + 1 : last_;
        }
      }
    }
    if (matched) Push(match);
  }

  ScriptContext& ctx_;
  const std::vector<ScriptCommand>& commands_;
  uint32_t last_;
  std::vector<uint32_t> blockEnds_;
  std::vector<std::unique_ptr<CompiledStatement>> compiled_;
  std::vector<uint8_t> runs_;
  std::unordered_map<uint32_t, int> starts_;
  std::unordered_map<uint32_t, int> ends_;
};

}  // namespace

void reportScriptError(ScriptContext& ctx, const std::string& what, const std::string& reasonUtf8) {
  if (tCurrentStatement.ctx == &ctx) {
    if (tCurrentStatement.failed) return;
    tCurrentStatement.failed = true;
  }
  ctx.executionStack.clear();
  ctx.errorReported = true;
  const CodePage& cp = ctx.codePage();
  std::string text = cp.FromUtf8(msg::kErrorPrefix);
  text += '"';
  text += what;
  text += "\"\r\n";
  text += cp.FromUtf8(msg::kReasonPrefix);
  text += cp.FromUtf8(reasonUtf8);
  sendHostRequest(ctx, REQ_ALERT, text);
}

bool IsTrueCondition(const std::string& expanded) {
  return !expanded.empty() && CodePage::Trim(expanded) != "0";
}

uint32_t findBlockEnd(const ScriptContext& ctx, uint32_t a) {
  const auto& commands = ctx.program->commands;
  const uint32_t last =
      ctx.lastIndex < commands.size() ? ctx.lastIndex : static_cast<uint32_t>(commands.size() - 1);
  int depth = 1;
  for (uint64_t j = uint64_t{a} + 2; j <= last; ++j) {
    const int32_t id = commands[j].id;
    if (id == stmt::kBlockOpen) {
      ++depth;
    } else if (id == stmt::kBlockClose && --depth == 0) {
      return j < last ? static_cast<uint32_t>(j + 1) : a + 2;
    }
  }
  return a + 2;
}

void enterBlock(ScriptContext& ctx, uint32_t b) {
  const auto& commands = ctx.program->commands;
  const uint32_t last =
      ctx.lastIndex < commands.size() ? ctx.lastIndex : static_cast<uint32_t>(commands.size() - 1);
  int depth = 1;
  for (uint64_t j = uint64_t{b} + 1; j <= last; ++j) {
    const int32_t id = commands[j].id;
    if (id == stmt::kBlockOpen) {
      ++depth;
    } else if (id == stmt::kBlockClose && --depth == 0) {
      if (j < last) ctx.executionStack.push_back(static_cast<uint32_t>(j + 1));
      break;
    }
  }
  ctx.executionStack.push_back(b + 1);
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
  Run(ctx).Execute();
}

}  // namespace velmar
