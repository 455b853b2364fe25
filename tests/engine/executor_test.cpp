// The executor's control flow, run on the test's own thread with a
// recording host-> Conditions are literal texts ("1", "0", empty) so that the
// flow is tested apart from expression evaluation.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "engine/executor.h"
#include "logging_host.h"
#include "support/test_support.h"

namespace velmar {
namespace {

using testing::LoggingHost;
using testing::TempDir;
using Log = std::vector<std::string>;

std::string Lines(std::initializer_list<const char*> lines) {
  std::string text;
  for (const char* line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

class ExecutorTest : public ::testing::Test {
 protected:
  // A new host with an empty log.
  void Fresh() {
    ctx.reset();
    host = std::make_unique<LoggingHost>(env);
  }
  ScriptContext& Load(const std::string& script) {
    program = parseScript(script, env);
    ctx = std::make_unique<ScriptContext>(env);
    ctx->host = host.get();
    ctx->program = &program;
    ctx->lastIndex = program.lastIndex();
    const uint32_t* main = program.FindLabel("<main>");
    ctx->executionStack.push_back(main ? *main : 0);
    return *ctx;
  }
  Log Run(const std::string& script) {
    Fresh();
    Load(script);
    runScript(*ctx);
    return host->log();
  }
  // Sets the host's latest window event and queues it for the script.
  void QueueEvent(const std::string& source, const std::string& event) {
    host->broadcastWindowEvent({source, event, "v"});
    ctx->worker.postMessage(WM_SCRIPT_EVENT);
  }

  TempDir dir;
  EngineEnvironment env = EngineEnvironment::ForHome(dir.path(), KeywordFlavor::kRunner);
  std::unique_ptr<LoggingHost> host = std::make_unique<LoggingHost>(env);
  ScriptProgram program;
  std::unique_ptr<ScriptContext> ctx;
};

// The flow of if, switch, call and goto, and the alerts of missing
// sections, are cases of tests/cases run with `velmar run`.

TEST(ExecutorConditions, TrueUnlessEmptyOrZero) {
  EXPECT_TRUE(IsTrueCondition("  "));
  EXPECT_TRUE(IsTrueCondition("00"));
  EXPECT_FALSE(IsTrueCondition(" 0 "));
  EXPECT_FALSE(IsTrueCondition(""));
}

TEST_F(ExecutorTest, WhileTestsAtItsBraceAndBreakLeavesOneLevel) {
  EXPECT_EQ(Run(Lines({"while 0", "{", "show body", "}", "show after"})),
            (Log{"show:after", "state:exit"}));
  // A `break` inside an `if` only leaves the `if`; the one at the top of
  // the loop body leaves the loop.
  EXPECT_EQ(Run(Lines({"while 1", "{", "if 1", "{", "show in", "break", "show never", "}",
                       "show tail", "break", "}", "show after"})),
            (Log{"show:in", "show:tail", "show:after", "state:exit"}));
  EXPECT_TRUE(ctx->loopStack.size() == 1);  // the broken loop's record stays
}

TEST_F(ExecutorTest, OuterLoopKeepsLoopingAfterABreakOutOfAnInnerLoop) {
  int shows = 0;
  host->onRequest = [&](const HostRequest& request, const std::string&) {
    if (request.code == REQ_SHOW && ++shows == 6) request.instance->executionStack.clear();
  };
  Load(Lines({"while 1", "{", "show outer", "while 1", "{", "show inner", "break", "}", "show back",
              "}", "show after"}));
  runScript(*ctx);
  EXPECT_EQ(host->log(), (Log{"show:outer", "show:inner", "show:back", "show:outer", "show:inner",
                              "show:back", "state:exit"}));
  EXPECT_LE(ctx->loopStack.size(), 2u);  // stale inner records do not pile up
}

TEST_F(ExecutorTest, DeepCallRecursionUsesOnlyTheIndexStack) {
  // Each level sends one request; at a million levels the host ends the run.
  constexpr int kDepth = 1000000;
  int shows = 0;
  std::size_t deepest = 0;
  host->onRequest = [&](const HostRequest& request, const std::string&) {
    if (request.code != REQ_SHOW || ++shows < kDepth) return;
    deepest = request.instance->executionStack.size();
    request.instance->executionStack.clear();
  };
  Load(Lines({"<main>", "call <f>", "exit", "<f>", "show d", "call <f>"}));
  runScript(*ctx);
  EXPECT_EQ(shows, kDepth);
  EXPECT_GE(deepest, static_cast<std::size_t>(kDepth));
  EXPECT_LE(deepest, static_cast<std::size_t>(kDepth) + 2);
}

TEST_F(ExecutorTest, MalformedBlocksNeitherCrashNorHang) {
  const std::string scripts[] = {
      Lines({"if 1", "{", "show a"}),                // missing `}`
      Lines({"}", "show a", "}"}),                   // stray `}`
      Lines({"else", "{", "show a", "}"}),           // else without if
      Lines({"case x", "default", "show a"}),        // case outside switch
      Lines({"show a", "while 1"}),                  // loop as the last statement
      Lines({"while 1", "{", "show a"}),             // loop without its `}`
      Lines({"switch x", "{", "case x", "show a"}),  // switch without its `}`
      Lines({"show a", "if 1"}),                     // if as the last statement
      Lines({"{", "{", "show a", "}"}),
  };
  for (const std::string& script : scripts) {
    const Log log = Run(script);
    ASSERT_FALSE(log.empty()) << script;
    EXPECT_EQ(log.back(), "state:exit") << script;
    EXPECT_LE(host->count("show:a"), 1u) << script;
  }
}

TEST_F(ExecutorTest, PauseTakesTheLeadingNumberOnly) {
  EXPECT_EQ(Run(Lines({"pause abc", "pause -500", "pause 0", "show done"})),
            (Log{"state:sleep", "state:sleep", "state:sleep", "show:done", "state:exit"}));
  EXPECT_EQ(ctx->remainingSleep, 0);
}

TEST_F(ExecutorTest, EventSectionsInterruptTheFlowAndReturnToIt) {
  Load(Lines(
      {"<main>", "show start", "show end", "exit", "<on_win_click>", "show clicked", "return"}));
  QueueEvent("win", "click");
  runScript(*ctx);
  EXPECT_EQ(host->log(),
            (Log{"eventvars:", "show:clicked", "show:start", "show:end", "state:exit"}));
  EXPECT_EQ(ctx->variables["window_value"], "v");
  EXPECT_EQ(ctx->eventDepth, 0);
}

TEST_F(ExecutorTest, EventsWithoutSectionOrDuringASectionAreDropped) {
  const std::string script = Lines({"<main>", "show start", "exit", "<on_win_click>",
                                    "show clicked", "show clicked again", "return"});
  Load(script);
  QueueEvent("win", "nosuch");
  runScript(*ctx);
  EXPECT_EQ(host->log(), (Log{"eventvars:", "show:start", "state:exit"}));

  Fresh();
  host->onRequest = [&](const HostRequest& request, const std::string& text) {
    // A second event arrives while the section runs.
    if (text == "clicked") request.instance->worker.postMessage(WM_SCRIPT_EVENT);
  };
  Load(script);
  QueueEvent("win", "click");
  runScript(*ctx);
  EXPECT_EQ(host->log(),
            (Log{"eventvars:", "show:clicked", "show:clicked again", "show:start", "state:exit"}));
}

TEST_F(ExecutorTest, EventSectionRulesForExitGotoAndBreak) {
  Load(Lines({"<main>", "show start", "exit", "<on_w_e>", "exit"}));
  QueueEvent("w", "e");
  EXPECT_EQ((runScript(*ctx), host->log()), (Log{"eventvars:", "state:exit"}));

  Fresh();
  Load(Lines(
      {"<main>", "show start", "exit", "<on_w_e>", "call <sub>", "<sub>", "goto <x>", "<x>"}));
  QueueEvent("w", "e");
  runScript(*ctx);
  EXPECT_EQ(host->log()[1],
            "alert:出错：\"GOTO <x>\"\r\n原因：消息函数及其调用的函数中不能使用GOTO命令!");

  // A break that only leaves a block of the section still ends the event
  // level; the rest of the section then runs as normal flow.
  Fresh();
  Load(Lines({"<main>", "show start", "exit", "<on_w_e>", "if 1", "{", "break", "}", "show rest"}));
  QueueEvent("w", "e");
  runScript(*ctx);
  EXPECT_EQ(host->log(), (Log{"eventvars:", "show:rest", "state:exit"}));
  EXPECT_EQ(ctx->eventDepth, 0);
}

TEST_F(ExecutorTest, StatementsReachTheirRequests) {
  EXPECT_EQ(
      Run(Lines({"show   a b  ", "alert  c  ",   "left l",        "right r",      "state s",
                 "note n",       "prompt p",     "js 1+1",        "openwindow o", "setwindow s",
                 "showwindow s", "hidewindow h", "closewindow c", "jswindow j",   "showtray",
                 "hidetray",     "eval e",       "var [#x] 1",    "new",          "minwindow",
                 "maxwindow",    "srand"})),
      (Log{"show:a b  ", "alert:c", "left:l", "right:r", "state:s", "note:n", "prompt:p", "js:1+1",
           "openwindow:o", "setwindow:s", "showwindow:s", "hidewindow:h", "closewindow:c",
           "jswindow:j", "showtray:", "hidetray:", "state:exit"}));
}

// Expanded, raw and unused texts: a `new` with a built-in call in its text
// never runs the call, `eval` runs it, `jswindow` expands its own.
TEST_F(ExecutorTest, HandlersGetTheTextTheirArgumentModeGives) {
  EXPECT_EQ(Run(Lines({"var [#x] 1", "jswindow j[#x]", "show [#x] ", "eval [@split<<<p,q<<<,]",
                       "show [#_1]", "new [@split<<<a,b,c<<<,]", "show [#_2]"})),
            (Log{"jswindow:j1", "show:1 ", "show:q", "show:", "state:exit"}));
}

// `[%x]` names no result-set cell: its expansion reports a script error.
constexpr const char* kBadCell = "alert:出错：\"x\"\r\n原因：格式有误．";

TEST_F(ExecutorTest, AnExpansionErrorEndsTheRunAfterAnyStatement) {
  // Each statement with an argument that fails while it is expanded, with
  // the lines that would run if the statement went on after the error.
  const std::vector<std::vector<const char*>> cases = {
      {"if [%x]", "{", "show then", "}", "else", "{", "show else", "}"},
      {"while [%x]", "{", "show body", "}"},
      {"switch [%x]", "{", "case ", "show case", "default", "show default", "}"},
      {"switch a", "{", "case [%x]", "show case", "default", "show default", "}"},
      {"goto [%x]", "<x>", "show jumped"},
      {"call [%x]", "<x>", "show called"},
      {"pause [%x]"},
      {"show [%x]"},
      {"eval [%x]"},
      {"state [%x]"},
      {"jswindow [%x]"},
      {"var [#v] [%x]"},
      {"unregex [%x]"},
      {"delcookies [%x]"},
      {"unloaddll [%x]"},
      {"setcookies [%x] v"},
      {"query [%x] r select 1"},
  };
  for (const auto& lines : cases) {
    std::string script = "show before\r\n";
    for (const char* line : lines) script += std::string(line) + "\r\n";
    script += "show after\r\n";
    const Log log = Run(script);
    ASSERT_GE(log.size(), 3u) << lines[0];
    EXPECT_EQ(log.front(), "show:before") << lines[0];
    EXPECT_EQ(log.back(), "state:exit") << lines[0];
    // One alert, for the cause; besides it only the statement's own request
    // (pause's state, show's empty text) and nothing of the lines after it.
    EXPECT_EQ(std::count(log.begin(), log.end(), kBadCell), 1) << lines[0];
    EXPECT_LE(log.size(), 4u) << lines[0];
    for (std::size_t k = 1; k + 1 < log.size(); ++k) {
      EXPECT_TRUE(log[k] == kBadCell || log[k] == "show:" || log[k] == "state:" ||
                  log[k] == "state:sleep" || log[k] == "jswindow:")
          << lines[0] << ": " << log[k];
    }
    EXPECT_TRUE(ctx->errorReported) << lines[0];
    EXPECT_TRUE(ctx->executionStack.empty()) << lines[0];
  }
}

TEST_F(ExecutorTest, ARaisedErrorIsReportedBeforeWhatTheStatementDoesNext) {
  // The error record and the diagnostics, each with the number of requests
  // the host had seen by then.
  std::vector<std::string> events;
  env.scriptError = [&](int32_t, const ScriptErrorReport& report) {
    events.push_back("error " + report.what + " line " + std::to_string(report.line) + " after " +
                     std::to_string(host->log().size()));
  };
  env.diagnostic = [&](int32_t, std::string_view) {
    events.push_back("diagnostic after " + std::to_string(host->log().size()));
  };
  // `jswindow` expands its stored text itself and sends the broken text on;
  // `regex` expands its name, then says why its pattern matches nothing.
  EXPECT_EQ(Run(Lines({"show start", "jswindow [%x]", "show never"})),
            (Log{"show:start", kBadCell, "jswindow:", "state:exit"}));
  EXPECT_EQ(events, (std::vector<std::string>{"error x line 2 after 1"}));
  events.clear();
  EXPECT_EQ(Run(Lines({"regex [%x] {a", "show never"})), (Log{kBadCell, "state:exit"}));
  EXPECT_EQ(events, (std::vector<std::string>{"error x line 1 after 0", "diagnostic after 1"}));
  // An error a handler returns is reported with its own statement's line.
  events.clear();
  EXPECT_EQ(Run(Lines({"show a", "unloaddll nope", "show never"})),
            (Log{"show:a", "alert:出错：\"UNLOADDLL nope\"\r\n原因：释放了未定义的DLL．",
                 "state:exit"}));
  EXPECT_EQ(events, (std::vector<std::string>{"error UNLOADDLL nope line 2 after 1"}));
  env.scriptError = nullptr;
  env.diagnostic = nullptr;
}

TEST_F(ExecutorTest, ALoopTestThatFailsLaterEndsTheRun) {
  // The condition names row [#i] of the result set q: row 0 exists, row 5
  // does not, so the first test passes and the second one fails.
  Fresh();
  ScriptContext& c = Load(Lines(
      {"var [#i] 0", "while [%q.[#i].0]", "{", "show body", "var [#i] 5", "}", "show after"}));
  c.resultSets["q"] = {{"1"}};
  runScript(c);
  EXPECT_EQ(host->log(),
            (Log{"show:body", "alert:出错：\"q.5.0\"\r\n原因：下标越界.", "state:exit"}));
  EXPECT_TRUE(c.errorReported);
}

TEST_F(ExecutorTest, AGotoLabelThatFailsInAnEventSectionEndsTheRun) {
  Fresh();
  Load(Lines({"<main>", "show start", "exit", "<on_w_click>", "goto [%x]", "show never"}));
  QueueEvent("w", "click");
  runScript(*ctx);
  const Log log = host->log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ((Log{log.end() - 2, log.end()}), (Log{kBadCell, "state:exit"}));
}

// Records what the executor announces, as "keyword@line:argument" before and
// "ok"/"failed" after, and the errors.
class RecordingObserver : public RunObserver {
 public:
  void RunStarted(int32_t, std::string_view script) override {
    events.push_back("start " + std::string(script));
  }
  void RunEnded(int32_t) override { events.push_back("end"); }
  void BeforeStatement(const RunStatement& s, StopSignal&, const VariableTable&) override {
    events.push_back(std::string(s.keyword) + "@" + std::to_string(s.line) + " " +
                     std::string(s.text));
  }
  void AfterStatement(const RunStatement&, const StatementOutcome& o) override {
    events.push_back(std::string(o.failed ? "failed " : "ok ") + std::string(o.argument));
    EXPECT_GE(o.elapsedNs, 0);
  }
  void ScriptError(std::string_view what, std::string_view reason) override {
    events.push_back("error " + std::string(what) + ": " + std::string(reason));
  }
  void WindowEventTaken(std::string_view window, std::string_view event, std::string_view value,
                        bool handled) override {
    events.push_back("window " + std::string(window) + " " + std::string(event) + " " +
                     std::string(value) + (handled ? " entered" : " dropped"));
  }
  Log events;
};

TEST_F(ExecutorTest, AnObserverSeesEveryStatementWithItsPositionAndOutcome) {
  RecordingObserver observer;
  Fresh();
  ScriptContext& c =
      Load(Lines({"var [#n] 2", "if [#n]", "{", "show n=[#n]", "}", "goto <nowhere>"}));
  program.files = {"t.vlm"};
  c.observer = &observer;
  runScript(c);
  ASSERT_EQ(host->log().size(), 3u);
  // The `{` after a true `if` is stepped over; the failing `goto` is
  // announced, reports its error and ends failed.
  EXPECT_EQ(observer.events,
            (Log{"start t.vlm", "var@1 [#n] 2", "ok ", "if@2 [#n]", "ok 2", "show@4 n=[#n]",
                 "ok n=2", "}@5 ", "ok ", "goto@6 <nowhere>",
                 "error GOTO <nowhere>: use of an undefined section name", "failed <nowhere>",
                 "end"}));
}

TEST_F(ExecutorTest, AnUnobservedRunIsUnchangedByTheSeam) {
  // The same script with and without an observer gives the same requests.
  const std::string script =
      Lines({"var [#i] 0", "while ([#i]<3)", "{", "show [#i]", "var [#i] ([#i]+1)", "}"});
  const Log plain = Run(script);
  RecordingObserver observer;
  env.observer = &observer;
  const Log observed = Run(script);
  env.observer = nullptr;
  EXPECT_EQ(plain, observed);
  EXPECT_GT(observer.events.size(), 10u);
  // The loop's `{` has no argument of its own: the condition it tests is the
  // `while`'s, on the first turn as on the prepared ones.
  int opens = 0;
  for (std::size_t k = 0; k + 1 < observer.events.size(); ++k) {
    if (observer.events[k].rfind("{@", 0) != 0) continue;
    ++opens;
    EXPECT_EQ(observer.events[k + 1], "ok ") << "turn " << opens;
  }
  EXPECT_EQ(opens, 4);
}

TEST_F(ExecutorTest, AnObserverIsToldOfEachWindowEventAsTheScriptTakesItUp) {
  const std::string script =
      Lines({"<main>", "show start", "exit", "<on_win_click>", "show clicked", "return"});
  RecordingObserver observer;
  for (const char* event : {"click", "nosuch"}) {
    Fresh();
    ScriptContext& c = Load(script);
    c.observer = &observer;
    QueueEvent("win", event);
    runScript(c);
  }
  Log windows;
  for (const std::string& e : observer.events) {
    if (e.rfind("window ", 0) == 0) windows.push_back(e);
  }
  EXPECT_EQ(windows, (Log{"window win click v entered", "window win nosuch v dropped"}));
  // The event comes before the statements of its section.
  const auto event = std::find(observer.events.begin(), observer.events.end(), windows[0]);
  const auto section = std::find(observer.events.begin(), observer.events.end(), "show@5 clicked");
  EXPECT_LT(event, section);
}

}  // namespace
}  // namespace velmar
