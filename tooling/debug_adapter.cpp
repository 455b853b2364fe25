#include "tooling/debug_adapter.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/console_host.h"
#include "engine/executor.h"
#include "engine/host_requests.h"
#include "engine/script_instance.h"
#include "regex/named_regex.h"
#include "tooling/message_frames.h"
#include "platform/stop_signal.h"
#include "engine/statements/expansion.h"
#include "values/run_observer.h"

namespace velmar {

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

constexpr int kThreadId = 1;
// Variable references: the four scopes of the paused script, then the
// children of one named expression or one result set.
constexpr int kScopeVariables = 1;
constexpr int kScopeExpressions = 2;
constexpr int kScopeResponse = 3;
constexpr int kScopeResultSets = 4;
constexpr int kExpressionBase = 1000;
constexpr int kResultSetBase = 1000000;
// What one answer shows of long values and long lists; evaluate gives more.
constexpr std::size_t kShownValueBytes = 4096;
constexpr std::size_t kShownEntries = 2000;

std::string Dump(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string SamePath(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
  return ec ? path : p.string();
}

// A hit condition as editors write it: "5" (from the fifth hit on... as
// most debuggers read a bare count, exactly at 5), ">5", ">=5", "==5", "%5".
bool HitConditionMet(const std::string& condition, uint64_t hits) {
  std::string text;
  for (char c : condition) {
    if (c != ' ') text += c;
  }
  if (text.empty()) return true;
  std::string op;
  while (!text.empty() && (text[0] == '>' || text[0] == '<' || text[0] == '=' || text[0] == '%')) {
    op += text[0];
    text.erase(0, 1);
  }
  uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  if (op.empty() || op == "==" || op == "=") return hits == n;
  if (op == ">") return hits > n;
  if (op == ">=") return hits >= n;
  if (op == "<") return hits < n;
  if (op == "<=") return hits <= n;
  if (op == "%") return n != 0 && hits % n == 0;
  return false;
}

// Lines written to a stdio stream become output events: the console host
// writes the script's requests (show:, alert:, ...) to such a stream.
class OutputStream {
 public:
  explicit OutputStream(std::function<void(const std::string&)> line) : line_(std::move(line)) {
    cookie_io_functions_t io{};
    io.write = [](void* self, const char* data, size_t size) -> ssize_t {
      static_cast<OutputStream*>(self)->Write(data, size);
      return static_cast<ssize_t>(size);
    };
    file_ = fopencookie(this, "w", io);
    if (file_) setvbuf(file_, nullptr, _IOLBF, 0);
  }
  ~OutputStream() {
    if (file_) std::fclose(file_);
  }
  std::FILE* file() const { return file_; }

 private:
  void Write(const char* data, size_t size) {
    pending_.append(data, size);
    std::size_t eol;
    while ((eol = pending_.find('\n')) != std::string::npos) {
      line_(pending_.substr(0, eol + 1));
      pending_.erase(0, eol + 1);
    }
  }
  std::function<void(const std::string&)> line_;
  std::string pending_;
  std::FILE* file_ = nullptr;
};

// A host that only remembers the alert a failing evaluation sends, so that
// evaluating in the debugger never shows the script's own alert or prints.
class CapturingHost : public ScriptHost {
 public:
  void handleRequest(const HostRequest& request, const std::string& text) override {
    if (request.code == REQ_ALERT) alert = text;
  }
  std::string alert;
};

struct Breakpoint {
  int id = 0;
  uint32_t line = 0;  // the statement's first line, from 1
  std::string condition;
  std::string hitCondition;
  std::string logMessage;
  uint64_t hits = 0;
};

class Debugger : public RunObserver {
 public:
  explicit Debugger(FrameWriter& writer) : writer_(writer) {}
  ~Debugger() override {
    Shutdown();
    host_.reset();
    platform::CloseDescriptor(nullInput_);
  }

  // --- The editor's side (the adapter's main thread).
  bool Handle(const json& request) {
    const std::string command = request.value("command", "");
    const json args = request.contains("arguments") && request["arguments"].is_object() ? request["arguments"]
                                                                                         : json::object();
    try {
      if (command == "initialize") return Respond(request, Capabilities());
      if (command == "launch") return Launch(request, args);
      if (command == "setBreakpoints") return SetBreakpoints(request, args);
      if (command == "setExceptionBreakpoints") return Respond(request, {{"breakpoints", json::array()}});
      if (command == "configurationDone") return ConfigurationDone(request);
      if (command == "threads") {
        return Respond(request, {{"threads", json::array({{{"id", kThreadId}, {"name", scriptName_.empty() ? "script" : scriptName_}}})}});
      }
      if (command == "pause") {
        Command(Mode::kPause);
        return Respond(request, json::object());
      }
      if (command == "continue") return Resume(request, Mode::kRun, {{"allThreadsContinued", true}});
      if (command == "next") return Resume(request, Mode::kStepOver, json::object());
      if (command == "stepIn") return Resume(request, Mode::kStepIn, json::object());
      if (command == "stepOut") return Resume(request, Mode::kStepOut, json::object());
      if (command == "stackTrace") return OnScript(request, [this](json& body) { return StackTrace(body); });
      if (command == "scopes") return Scopes(request);
      if (command == "variables") {
        const int ref = args.value("variablesReference", 0);
        return OnScript(request, [this, ref](json& body) { return Variables(ref, body); });
      }
      if (command == "evaluate") {
        const std::string expression = args.value("expression", "");
        return OnScript(request, [this, expression](json& body) { return Evaluate(expression, body); });
      }
      if (command == "disconnect" || command == "terminate") {
        StopScript();
        Respond(request, json::object());
        return command == "terminate";
      }
      return Fail(request, "unknown request: " + command);
    } catch (const json::exception& e) {
      return Fail(request, std::string("malformed arguments: ") + e.what());
    }
  }

  void Shutdown() {
    StopScript();
    if (watcher_.joinable()) watcher_.join();
  }

  // --- The script's side: called before every statement, on the thread of
  // the one script this adapter runs, whose state it may then read.
  void BeforeStatement(const RunStatement& statement, StopSignal& stop, const VariableTable&) override {
    ScriptContext& ctx = *instance_;
    const uint32_t index = statement.index;
    const std::size_t depth = ctx.executionStack.size();
    // The calls under way: a frame ends when the stack is back at the depth
    // its `call` had.
    while (!frames_.empty() && depth <= frames_.back().depth) frames_.pop_back();
    const ScriptCommand& command = ctx.program->commands[index];
    bool stopHere = false;
    std::string reason;
    std::vector<int> hitIds;
    const Mode mode = mode_.load(std::memory_order_relaxed);
    if (mode != Mode::kRun) {
      if (mode == Mode::kPause || mode == Mode::kStepIn || mode == Mode::kEntry) {
        stopHere = true;
      } else if (mode == Mode::kStepOver) {
        stopHere = frames_.size() <= stepFrames_;
      } else if (mode == Mode::kStepOut) {
        stopHere = frames_.size() < stepFrames_;
      }
      if (stopHere) reason = mode == Mode::kPause ? "pause" : mode == Mode::kEntry ? "entry" : "step";
    }
    if (index < marks_.size() && marks_[index].load(std::memory_order_relaxed)) {
      if (CheckBreakpoints(ctx, index, hitIds) && !stopHere) {
        stopHere = true;
        reason = "breakpoint";
      }
    }
    if (stopHere) Pause(ctx, stop, index, reason, hitIds);
    // Paused on a `call`, the script is still in the caller: the frame
    // begins once the statement runs.
    if (command.id == stmt::kCall) frames_.push_back({index, depth});
  }

  // The run's own errors and diagnostics go to the debug console through
  // the environment's callbacks; those of an evaluation are its answer.
  void ScriptError(std::string_view, std::string_view) override {}
  bool WantsStatementOutcomes() const override { return false; }

 private:
  enum class Mode { kRun, kPause, kEntry, kStepIn, kStepOver, kStepOut };
  struct Frame {
    uint32_t call;      // the `call` statement
    std::size_t depth;  // the execution stack's size before it ran
  };

  // --- Messages.
  void Send(json message) {
    message["seq"] = ++seq_;
    writer_.Send(Dump(message));
  }
  bool Respond(const json& request, json body) {
    Send({{"type", "response"}, {"request_seq", request.value("seq", 0)}, {"success", true},
          {"command", request.value("command", "")}, {"body", std::move(body)}});
    return false;
  }
  bool Fail(const json& request, const std::string& message) {
    Send({{"type", "response"}, {"request_seq", request.is_object() ? request.value("seq", 0) : 0}, {"success", false},
          {"command", request.is_object() ? request.value("command", "") : ""}, {"message", message},
          {"body", {{"error", {{"id", 1}, {"format", message}, {"showUser", false}}}}}});
    return false;
  }
  void Event(const std::string& name, json body) {
    Send({{"type", "event"}, {"event", name}, {"body", std::move(body)}});
  }
  void Output(const std::string& category, const std::string& text) {
    Event("output", {{"category", category}, {"output", text}});
  }
  std::string Utf8(const std::string& text) const {
    return !env_ || env_->codePage->id() == CodePage::kUtf8 ? text : env_->codePage->ToUtf8(text);
  }

  static json Capabilities() {
    return {{"supportsConfigurationDoneRequest", true},
            {"supportsConditionalBreakpoints", true},
            {"supportsHitConditionalBreakpoints", true},
            {"supportsLogPoints", true},
            {"supportsEvaluateForHovers", true},
            {"supportsTerminateRequest", true},
            {"supportTerminateDebuggee", true}};
  }

  // --- Launch and the end of the run.
  bool Launch(const json& request, const json& args) {
    if (instance_) return Fail(request, "a script was launched already");
    const std::string program = args.value("program", "");
    if (program.empty()) return Fail(request, "launch needs \"program\": the script to run");
    std::error_code ec;
    if (!fs::is_regular_file(program, ec)) return Fail(request, "cannot read script: " + program);
    std::string home = args.value("home", "");
    if (home.empty()) {
      // The folder above the script's Script/ folder, else the script's own.
      const fs::path file = fs::absolute(program, ec);
      for (fs::path dir = file.parent_path(); !dir.empty() && dir != dir.root_path(); dir = dir.parent_path()) {
        if (dir.filename() == "Script") {
          home = dir.parent_path().string();
          break;
        }
      }
      if (home.empty()) home = file.parent_path().string();
    } else if (!fs::is_directory(home, ec)) {
      return Fail(request, "the home folder does not exist: " + home);
    }
    env_ = std::make_unique<EngineEnvironment>(EngineEnvironment::ForHome(home, KeywordFlavor::kRunner));
    if (args.contains("codepage") && args["codepage"].is_number_integer()) {
      const int cp = args["codepage"].get<int>();
      if (cp != CodePage::kUtf8 && cp != CodePage::kGbk) return Fail(request, "codepage must be 65001 or 936");
      env_->codePage = &CodePage::Get(cp);
    }
    env_->diagnostic = [this](int32_t, std::string_view text) {
      if (!evaluating_) Output("stderr", Utf8(std::string(text)) + "\n");
    };
    env_->scriptError = [this](int32_t, const ScriptErrorReport& r) {
      if (evaluating_) return;
      std::string where = r.file.empty() ? "velmar debug" : r.file + ":" + std::to_string(r.line);
      Output("stderr", where + ": error: " + Utf8(r.reason) + " (" + Utf8(r.what) + ")\n");
    };
    env_->observer = this;
    output_ = std::make_unique<OutputStream>([this](const std::string& line) { Output("stdout", Utf8(line)); });
    // Prompts read their answer from an input that is empty: standard input
    // carries the protocol.
    nullInput_ = platform::OpenForReading("/dev/null");
    host_ = std::make_unique<ConsoleHost>(*env_, output_->file(), nullInput_);
    const std::string source = fs::absolute(program, ec).lexically_normal().string();
    std::string param;
    if (args.contains("param") && args["param"].is_string()) param = args["param"].get<std::string>();
    if (env_->codePage->id() != CodePage::kUtf8) param = env_->codePage->FromUtf8(param);
    scriptName_ = fs::path(program).stem().string();
    instance_ = host_->startScript(scriptName_, source, param, program);
    if (!instance_) return Fail(request, "cannot load script: " + program);
    program_ = instance_->program;
    marks_ = std::vector<std::atomic<uint8_t>>(program_->commands.size());
    for (const std::string& file : program_->files) files_.push_back(SamePath(file));
    labelOf_.assign(program_->commands.size(), std::string());
    std::vector<LabelDefinition> defs = program_->labelDefinitions;
    std::stable_sort(defs.begin(), defs.end(), [](const LabelDefinition& a, const LabelDefinition& b) { return a.index < b.index; });
    for (std::size_t k = 0, d = 0; k < labelOf_.size(); ++k) {
      while (d < defs.size() && defs[d].index <= k) {
        current_ = defs[d].label;
        ++d;
      }
      labelOf_[k] = current_;
    }
    if (args.value("stopOnEntry", false)) mode_ = Mode::kEntry;
    Respond(request, json::object());
    Event("initialized", json::object());
    return false;
  }

  bool ConfigurationDone(const json& request) {
    Respond(request, json::object());
    if (!instance_ || started_) return false;
    started_ = true;
    if (!host_->run(*instance_)) {
      Output("stderr", "velmar debug: cannot create the script's thread\n");
      Event("terminated", json::object());
      return false;
    }
    Event("process", {{"name", scriptName_}, {"startMethod", "launch"}, {"isLocalProcess", true}});
    watcher_ = std::thread([this] {
      instance_->worker.join();
      {
        std::lock_guard<std::mutex> hold(lock_);
        ended_ = true;
      }
      cv_.notify_all();
      Event("exited", {{"exitCode", instance_->errorReported ? 1 : 0}});
      Event("terminated", json::object());
    });
    return false;
  }

  void StopScript() {
    if (!instance_ || stopping_) return;
    stopping_ = true;
    {
      std::lock_guard<std::mutex> hold(lock_);
      terminate_ = true;
      paused_ = false;
    }
    mode_ = Mode::kRun;
    cv_.notify_all();
    if (started_) host_->stop(*instance_);
  }

  // --- Breakpoints.
  bool SetBreakpoints(const json& request, const json& args) {
    const json& source = args.at("source");
    const std::string path = source.contains("path") ? SamePath(source.at("path").get<std::string>()) : std::string();
    json answered = json::array();
    std::vector<Breakpoint> set;
    const json wanted = args.contains("breakpoints") ? args["breakpoints"] : json::array();
    uint32_t file = UINT32_MAX;
    for (uint32_t f = 0; f < files_.size(); ++f) {
      if (files_[f] == path) file = f;
    }
    for (const json& b : wanted) {
      Breakpoint bp;
      bp.id = ++breakpointIds_;
      const uint32_t line = b.at("line").get<uint32_t>();
      bp.condition = b.value("condition", "");
      bp.hitCondition = b.value("hitCondition", "");
      bp.logMessage = b.value("logMessage", "");
      // The statement the line belongs to, else the next statement below it.
      std::optional<uint32_t> at;
      if (program_ && file != UINT32_MAX) {
        for (const ScriptCommand& c : program_->commands) {
          if (c.file != file || c.line == 0) continue;
          if (c.line <= line && line <= std::max(c.line, c.lastLine)) {
            at = c.line;
            break;
          }
          if (c.line > line && (!at || c.line < *at)) at = c.line;
        }
      }
      json answer = {{"id", bp.id}, {"verified", at.has_value()}};
      if (at) {
        bp.line = *at;
        answer["line"] = *at;
        set.push_back(bp);
      } else {
        answer["message"] = program_ ? "no statement on or after this line" : "launch the script first";
      }
      answered.push_back(std::move(answer));
    }
    {
      std::lock_guard<std::mutex> hold(lock_);
      breakpoints_[file] = std::move(set);
      if (program_) {
        for (std::size_t i = 0; i < program_->commands.size(); ++i) {
          const ScriptCommand& c = program_->commands[i];
          bool marked = false;
          auto it = breakpoints_.find(c.file);
          if (it != breakpoints_.end()) {
            for (const Breakpoint& bp : it->second) marked = marked || bp.line == c.line;
          }
          marks_[i].store(marked ? 1 : 0, std::memory_order_relaxed);
        }
      }
    }
    return Respond(request, {{"breakpoints", std::move(answered)}});
  }

  // On the script's thread: whether a breakpoint at the statement stops it;
  // log points print instead of stopping.
  bool CheckBreakpoints(ScriptContext& ctx, uint32_t index, std::vector<int>& hitIds) {
    const ScriptCommand& c = ctx.program->commands[index];
    // Copies: the editor may replace the breakpoints while a condition is
    // evaluated here.
    std::vector<Breakpoint> here;
    {
      std::lock_guard<std::mutex> hold(lock_);
      auto it = breakpoints_.find(c.file);
      if (it == breakpoints_.end()) return false;
      for (const Breakpoint& bp : it->second) {
        if (bp.line == c.line) here.push_back(bp);
      }
    }
    auto count = [&](Breakpoint& copy) {
      std::lock_guard<std::mutex> hold(lock_);
      auto it = breakpoints_.find(c.file);
      if (it == breakpoints_.end()) return ++copy.hits;
      for (Breakpoint& bp : it->second) {
        if (bp.id == copy.id) return ++bp.hits;
      }
      return ++copy.hits;
    };
    bool stop = false;
    for (Breakpoint& held : here) {
      Breakpoint* bp = &held;
      if (!bp->condition.empty()) {
        std::string value, error;
        if (!EvaluateInScript(ctx, bp->condition, value, error)) {
          Output("stderr", "breakpoint condition " + Utf8(bp->condition) + ": " + Utf8(error) + "\n");
          stop = true;  // a condition that fails stops, so the fault is seen
          hitIds.push_back(bp->id);
          continue;
        }
        if (!IsTrueCondition(value)) continue;
      }
      if (!HitConditionMet(bp->hitCondition, count(held))) continue;
      if (!bp->logMessage.empty()) {
        std::string value, error;
        std::string message = env_->codePage->id() == CodePage::kUtf8 ? bp->logMessage : env_->codePage->FromUtf8(bp->logMessage);
        if (!EvaluateInScript(ctx, message, value, error, false)) value = message + " (" + error + ")";
        Output("console", Utf8(value) + "\n");
        continue;
      }
      stop = true;
      hitIds.push_back(bp->id);
    }
    return stop;
  }

  // --- Pausing (script thread) and resuming (adapter thread).
  void Pause(ScriptContext& ctx, StopSignal& stop, uint32_t index, const std::string& reason,
             const std::vector<int>& hitIds) {
    // A stop from anywhere (the host's, a signal's) ends the pause too; the
    // hook is set before our lock is taken, as the stop runs it under its own.
    stop.SetAbortHook([this] {
      std::lock_guard<std::mutex> inner(lock_);
      cv_.notify_all();
    });
    std::unique_lock<std::mutex> hold(lock_);
    if (terminate_) {
      hold.unlock();
      stop.ClearAbortHook();
      return;
    }
    mode_ = Mode::kRun;
    paused_ = true;
    pausedCtx_ = &ctx;
    pausedAt_ = index;
    json body = {{"reason", reason}, {"threadId", kThreadId}, {"allThreadsStopped", true}};
    if (!hitIds.empty()) body["hitBreakpointIds"] = hitIds;
    hold.unlock();
    Event("stopped", std::move(body));
    hold.lock();
    for (;;) {
      cv_.wait(hold, [&] { return !paused_ || !jobs_.empty() || terminate_ || stop.requested(); });
      while (!jobs_.empty()) {
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        hold.unlock();
        job();
        hold.lock();
      }
      if (!paused_ || terminate_ || stop.requested()) break;
    }
    paused_ = false;
    pausedCtx_ = nullptr;
    hold.unlock();
    stop.ClearAbortHook();
  }

  void Command(Mode mode) {
    std::lock_guard<std::mutex> hold(lock_);
    if (mode == Mode::kPause && paused_) return;
    // The script waits in its pause when a step is asked for, so its frames
    // hold still; a pause of a running script needs none.
    if (mode != Mode::kPause) stepFrames_ = frames_.size();
    mode_ = mode;
    paused_ = false;
    cv_.notify_all();
  }

  bool Resume(const json& request, Mode mode, json body) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (!paused_) return Fail(request, "the script is not paused");
    }
    Command(mode);
    Respond(request, std::move(body));
    Event("continued", {{"threadId", kThreadId}, {"allThreadsContinued", true}});
    return false;
  }

  // Runs `work` on the paused script's thread and answers with its body.
  bool OnScript(const json& request, std::function<std::optional<std::string>(json&)> work) {
    if (!instance_) return Fail(request, "no script: launch one first");
    std::unique_lock<std::mutex> hold(lock_);
    if (!paused_ || !pausedCtx_) {
      hold.unlock();
      return Fail(request, "the script is running: pause it first");
    }
    bool done = false;
    json body = json::object();
    std::optional<std::string> error;
    jobs_.push_back([&] {
      error = work(body);
      std::lock_guard<std::mutex> inner(lock_);
      done = true;
      cv_.notify_all();
    });
    cv_.notify_all();
    // The job is queued only while the script waits in its pause, and the
    // pause runs every queued job before it ends, even for a stop: the job
    // always runs, and its references to this frame stay valid until then.
    cv_.wait(hold, [&] { return done; });
    hold.unlock();
    if (error) return Fail(request, *error);
    return Respond(request, std::move(body));
  }

  // --- What the paused script shows (script thread).
  json SourceOf(uint32_t file) const {
    const std::string& path = file < files_.size() ? files_[file] : files_.front();
    return {{"name", fs::path(path).filename().string()}, {"path", path}};
  }
  std::optional<std::string> StackTrace(json& body) {
    json frames = json::array();
    auto frame = [&](int id, uint32_t index) {
      const ScriptCommand& c = program_->commands[index];
      std::string name = labelOf_[index].empty() ? scriptName_ : Utf8(labelOf_[index]);
      frames.push_back({{"id", id}, {"name", name}, {"source", SourceOf(c.file)}, {"line", c.line}, {"column", 1}});
    };
    frame(0, pausedAt_);
    for (std::size_t k = frames_.size(); k-- > 0;) frame(static_cast<int>(frames_.size() - k), frames_[k].call);
    body["stackFrames"] = std::move(frames);
    body["totalFrames"] = body["stackFrames"].size();
    return std::nullopt;
  }

  bool Scopes(const json& request) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (!paused_) return Fail(request, "the script is running: pause it first");
    }
    // One script state for every frame: variables are not local to a call.
    return Respond(request, {{"scopes", json::array({{{"name", "Variables"}, {"variablesReference", kScopeVariables}},
                                                     {{"name", "Named expressions"}, {"variablesReference", kScopeExpressions}},
                                                     {{"name", "Last response"}, {"variablesReference", kScopeResponse}},
                                                     {{"name", "Result sets"}, {"variablesReference", kScopeResultSets}, {"expensive", false}}})}});
  }

  std::string Shown(const std::string& value) const {
    if (value.size() <= kShownValueBytes) return Utf8(value);
    return Utf8(std::string(env_->codePage->CutAtCharacter(value, kShownValueBytes))) + " …(" +
           std::to_string(value.size()) + " bytes)";
  }

  std::optional<std::string> Variables(int ref, json& body) {
    ScriptContext& ctx = *pausedCtx_;
    json out = json::array();
    auto add = [&](const std::string& name, const std::string& value, int child = 0) {
      if (out.size() < kShownEntries) out.push_back({{"name", Utf8(name)}, {"value", Shown(value)}, {"variablesReference", child}});
    };
    if (ref == kScopeVariables) {
      for (const auto& [name, value] : ctx.variables.entries()) add(name, value);
    } else if (ref == kScopeResponse) {
      for (const char* name : {"status", "http_status", "http_url", "http_head", "http_body"}) {
        const std::string* value = ctx.variables.Find(name);
        add(name, value ? *value : std::string());
      }
    } else if (ref == kScopeExpressions) {
      int k = 0;
      for (const auto& [name, regex] : ctx.regexes) {
        const int groups = regex->groupCount;
        const std::size_t matches = groups > 0 ? regex->results.size() / static_cast<std::size_t>(groups) : 0;
        add(name, std::to_string(matches) + " matches, " + std::to_string(groups) + " groups", kExpressionBase + k++);
      }
    } else if (ref >= kExpressionBase && ref < kResultSetBase) {
      int k = kExpressionBase;
      for (const auto& [name, regex] : ctx.regexes) {
        if (k++ != ref) continue;
        add("count", std::to_string(regex->groupCount > 0 ? regex->results.size() / regex->groupCount : 0));
        add("group", std::to_string(regex->groupCount));
        for (std::size_t i = 0; i < regex->results.size(); ++i) add(std::to_string(i), regex->results[i]);
      }
    } else if (ref == kScopeResultSets) {
      int k = 0;
      for (const auto& [name, rows] : ctx.resultSets) add(name, std::to_string(rows.size()) + " rows", kResultSetBase + k++);
    } else if (ref >= kResultSetBase) {
      int k = kResultSetBase;
      for (const auto& [name, rows] : ctx.resultSets) {
        if (k++ != ref) continue;
        for (std::size_t r = 0; r < rows.size(); ++r) {
          std::string joined;
          for (std::size_t c = 0; c < rows[r].size(); ++c) joined += (c ? " | " : "") + rows[r][c];
          add("row " + std::to_string(r), joined);
        }
      }
    } else {
      return "no such variables reference: " + std::to_string(ref);
    }
    body["variables"] = std::move(out);
    return std::nullopt;
  }

  std::optional<std::string> Evaluate(const std::string& expression, json& body) {
    ScriptContext& ctx = *pausedCtx_;
    std::string text = env_->codePage->id() == CodePage::kUtf8 ? expression : env_->codePage->FromUtf8(expression);
    // A bare name reads as the variable of that name.
    if (!text.empty() && text.find_first_of("[( ") == std::string::npos) text = "[#" + text + "]";
    std::string value, error;
    if (!EvaluateInScript(ctx, text, value, error)) return Utf8(error);
    body["result"] = Shown(value);
    body["variablesReference"] = 0;
    return std::nullopt;
  }

  // Expands and evaluates a text as a statement's argument would be, on
  // the script's thread, without letting a failure end the run: the
  // execution stack and the error state are put back, and the alert the
  // failure would send comes back as `error`.
  bool EvaluateInScript(ScriptContext& ctx, const std::string& text, std::string& value, std::string& error,
                        bool evaluate = true) {
    std::vector<uint32_t> stack;
    for (std::size_t i = 0; i < ctx.executionStack.size(); ++i) stack.push_back(ctx.executionStack[i]);
    const bool errorBefore = ctx.errorReported;
    ScriptHost* host = ctx.host;
    CapturingHost capture;
    ctx.host = &capture;
    evaluating_ = true;
    value = text;
    if (evaluate) {
      ExpandAndEvaluate(ctx, value);
    } else {
      ExpandReferences(ctx, value);
    }
    evaluating_ = false;
    ctx.host = host;
    const bool failed = ctx.errorReported && !errorBefore;
    ctx.errorReported = errorBefore;
    ctx.executionStack.clear();
    for (uint32_t i : stack) ctx.executionStack.push_back(i);
    if (failed) {
      error = capture.alert.empty() ? "the expression failed" : capture.alert;
      for (char& c : error) {
        if (c == '\r' || c == '\n') c = ' ';
      }
      return false;
    }
    return true;
  }

  FrameWriter& writer_;
  std::atomic<int64_t> seq_{0};
  std::unique_ptr<EngineEnvironment> env_;
  std::unique_ptr<OutputStream> output_;
  platform::Descriptor nullInput_ = -1;
  std::unique_ptr<ConsoleHost> host_;
  ScriptInstance* instance_ = nullptr;
  const ScriptProgram* program_ = nullptr;
  std::string scriptName_;
  std::vector<std::string> files_;
  std::vector<std::string> labelOf_;
  std::string current_;
  std::vector<std::atomic<uint8_t>> marks_;
  int breakpointIds_ = 0;
  bool started_ = false;
  bool stopping_ = false;
  std::thread watcher_;

  // Shared between the threads, under lock_ (the mode also read without it
  // at every statement).
  std::mutex lock_;
  std::condition_variable cv_;
  std::atomic<Mode> mode_{Mode::kRun};
  std::map<uint32_t, std::vector<Breakpoint>> breakpoints_;
  bool paused_ = false;
  bool terminate_ = false;
  bool ended_ = false;
  ScriptContext* pausedCtx_ = nullptr;
  uint32_t pausedAt_ = 0;
  std::deque<std::function<void()>> jobs_;
  std::size_t stepFrames_ = 0;
  // Script thread only (read by jobs that run there).
  std::vector<Frame> frames_;
  static thread_local bool evaluating_;
};

thread_local bool Debugger::evaluating_ = false;

}  // namespace

int RunDebugAdapter(platform::Descriptor input, platform::Descriptor output) {
  FrameWriter writer(output);
  auto debugger = std::make_unique<Debugger>(writer);
  FrameReader reader(input, kMaxMessageBytes);
  int status = 1;
  for (;;) {
    MessageFrame frame = reader.Next();
    if (frame.kind == MessageFrame::Kind::kEnd || frame.kind == MessageFrame::Kind::kWoken) break;
    json error = {{"type", "response"}, {"request_seq", 0}, {"success", false}, {"command", ""}};
    if (frame.kind == MessageFrame::Kind::kTooLarge) {
      error["message"] = "message of " + std::to_string(frame.size) + " bytes dropped: a message may have at most " +
                         std::to_string(kMaxMessageBytes) + " bytes";
      writer.Send(Dump(error));
      continue;
    }
    if (frame.kind == MessageFrame::Kind::kBadHeader) {
      error["message"] = "message header without a valid Content-Length";
      writer.Send(Dump(error));
      continue;
    }
    json message = json::parse(frame.body, nullptr, false);
    if (message.is_discarded() || !message.is_object() || message.value("type", "") != "request" ||
        !message.contains("command") || !message["command"].is_string()) {
      error["message"] = message.is_discarded() ? "the message is no valid JSON" : "the message is no request";
      writer.Send(Dump(error));
      continue;
    }
    // After a disconnect the adapter still answers until the editor closes
    // its input: some clients disconnect twice.
    if (message["command"] == "disconnect") status = 0;
    debugger->Handle(message);
  }
  debugger->Shutdown();
  return status;
}

}  // namespace velmar
