// Script instances on their worker threads: run, pause, stop, remove,
// reload, events, prompts and suspend, driven the way a windowed host
// drives them. Waits are for recorded requests, never for time.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "engine/executor.h"
#include "logging_host.h"
#include "support/test_support.h"

namespace velmar {
namespace {

using testing::Lines;
using testing::LoggingHost;
using testing::TempDir;

constexpr int kWaitMs = 30000;

class ScriptThreadTest : public ::testing::Test {
 protected:
  ScriptInstance* Start(const std::string& name, const std::string& script,
                        const std::string& param = "p") {
    const auto path = dir.Write("Script/" + name + ".vlm", script);
    return host->startScript(name, path.string(), param);
  }
  // Joins the worker; true when it ended in time.
  bool Ends(ScriptInstance* instance) {
    if (!instance->worker.waitFinished(kWaitMs)) return false;
    instance->worker.join();
    return true;
  }

  TempDir dir;
  EngineEnvironment env = EngineEnvironment::ForHome(dir.path(), KeywordFlavor::kRunner);
  std::unique_ptr<LoggingHost> host = std::make_unique<LoggingHost>(env);
};

// Sleeps far longer than any test runs: only a stop or a pause cuts it short.
const std::string kSleeper = Lines({"<main>", "show go", "while 1", "{", "pause 100000000", "}"});
// Sleeps in short steps, so that an event section (which starts once the
// current pause has run out) comes soon.
const std::string kTicker = Lines(
    {"<main>", "show go", "while 1", "{", "pause 20", "}", "<on_w_ping>", "show pong", "return"});

TEST_F(ScriptThreadTest, StartScriptPreparesAReadyInstance) {
  ScriptInstance* a = Start("a", Lines({"show x", "<main>", "show y"}), "the param");
  ScriptInstance* b = Start("b", Lines({"show x"}));
  EXPECT_EQ(a->id, 1);
  EXPECT_EQ(b->id, 2);
  EXPECT_EQ(host->lastId(), 2);
  EXPECT_EQ(a->row, 0);
  EXPECT_EQ(b->row, 1);
  EXPECT_EQ(a->variables["param"], "the param");
  EXPECT_EQ(a->variables["source"], a->path);
  EXPECT_EQ(a->executionStack, (std::vector<uint32_t>{1}));
  EXPECT_EQ(b->executionStack, (std::vector<uint32_t>{0}));
  EXPECT_TRUE(host->isPaused(*a));
  EXPECT_FALSE(a->worker.started());
  EXPECT_TRUE(host->log().empty());
}

TEST_F(ScriptThreadTest, RunPauseEventAndStop) {
  ScriptInstance* s = Start("s", kTicker);
  ASSERT_TRUE(host->run(*s));
  EXPECT_FALSE(host->isPaused(*s));
  ASSERT_TRUE(host->waitFor("state:sleep"));

  host->pause(*s);
  EXPECT_TRUE(host->isPaused(*s));
  EXPECT_GE(s->worker.suspendCount(), 1u);
  host->run(*s);
  EXPECT_FALSE(host->isPaused(*s));
  EXPECT_EQ(s->worker.suspendCount(), 0u);

  // An event reaches a paused script and resumes it.
  host->pause(*s);
  host->broadcastWindowEvent({"w", "ping", "1"});
  EXPECT_FALSE(host->isPaused(*s));
  ASSERT_TRUE(host->waitFor("show:pong"));

  host->stop(*s);
  ASSERT_TRUE(Ends(s));
  const auto log = host->log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "state:stop");
  EXPECT_EQ(log.back(), "state:exit");
  EXPECT_EQ(s->variables["window_value"], "1");
  // Running an ended instance does nothing.
  EXPECT_TRUE(host->run(*s));
  EXPECT_EQ(host->log().size(), log.size());
}

TEST_F(ScriptThreadTest, StopReachesPausedAndPromptingScripts) {
  ScriptInstance* paused = Start("paused", kSleeper);
  ASSERT_TRUE(host->run(*paused));
  ASSERT_TRUE(host->waitFor("state:sleep"));
  host->pause(*paused);
  host->stop(*paused);
  ASSERT_TRUE(Ends(paused));
  EXPECT_EQ(host->count("state:stop"), 1u);

  // Waiting in a prompt and paused by the user as well: one resume leaves
  // the thread suspended, yet the stop still gets through.
  ScriptInstance* prompting = Start("prompting", Lines({"prompt who?", "show after"}));
  ASSERT_TRUE(host->run(*prompting));
  ASSERT_TRUE(host->waitFor("prompt:who?"));
  prompting->worker.suspend();
  host->stop(*prompting);
  ASSERT_TRUE(Ends(prompting));
  EXPECT_EQ(host->count("state:stop"), 2u);
  EXPECT_EQ(host->count("show:after"), 0u);
}

TEST_F(ScriptThreadTest, PromptKeepsTheScriptInItsRequestUntilTheAnswer) {
  ScriptInstance* s = Start("s", Lines({"prompt name?", "show after", "prompt again?"}));
  ASSERT_TRUE(host->run(*s));
  ASSERT_TRUE(host->waitFor("prompt:name?"));
  EXPECT_TRUE(host->isPaused(*s));
  host->inputDone(*s, "Ann");
  ASSERT_TRUE(host->waitFor("prompt:again?"));
  EXPECT_EQ(host->log()[1], "show:after");
  host->handleRequest(HostRequest{REQ_INPUT_DONE, s}, "");  // a cancelled dialog
  ASSERT_TRUE(Ends(s));
  EXPECT_EQ(s->variables["input"], "");
  EXPECT_FALSE(host->isPaused(*s));
  EXPECT_EQ(s->promptDialog, nullptr);

  // An event resumes a prompting script; the answer that comes later still
  // lands in `input`, taken over by the worker at a safe point.
  ScriptInstance* t = Start("t", Lines({"<main>", "prompt q", "show after", "while 1", "{",
                                        "pause 20", "}", "<on_w_e>", "show ev", "return"}));
  ASSERT_TRUE(host->run(*t));
  ASSERT_TRUE(host->waitFor("prompt:q"));
  host->broadcastWindowEvent({"w", "e", ""});
  ASSERT_TRUE(host->waitFor("show:ev"));
  ASSERT_TRUE(host->waitFor("show:after"));
  host->inputDone(*t, "late");
  host->stop(*t);
  ASSERT_TRUE(Ends(t));
  EXPECT_EQ(t->variables["input"], "late");
}

TEST_F(ScriptThreadTest, SuspendWaitsForEventSections) {
  ScriptInstance* s =
      Start("s", Lines({"<main>", "show ready", "suspend", "show woke", "exit", "<on_w_stay>",
                        "show stay", "return", "<on_w_go>", "show go", "resume", "return"}));
  ASSERT_TRUE(host->run(*s));
  ASSERT_TRUE(host->waitFor("suspended:"));
  // No section: the script suspends again at once.
  host->broadcastWindowEvent({"w", "nosuch", ""});
  ASSERT_TRUE(host->waitFor("suspended:", 2));
  // A section without `resume`: it runs, then the script suspends again.
  host->broadcastWindowEvent({"w", "stay", ""});
  ASSERT_TRUE(host->waitFor("show:stay"));
  ASSERT_TRUE(host->waitFor("suspended:", 3));
  host->broadcastWindowEvent({"w", "go", ""});
  ASSERT_TRUE(Ends(s));
  EXPECT_EQ(host->log(),
            (std::vector<std::string>{
                "show:ready", "suspended:", "eventvars:", "suspended:", "eventvars:", "show:stay",
                "suspended:", "eventvars:", "show:go", "show:woke", "state:exit"}));
}

TEST_F(ScriptThreadTest, EventsReachEveryRunningScriptAndOnlyTheLatestIsRead) {
  const std::string script =
      Lines({"<main>", "show hold", "while 1", "{", "pause 100000000", "}", "<on_w_one>",
             "show one", "return", "<on_w_two>", "show two", "return"});
  ScriptInstance* a = Start("a", script);
  ScriptInstance* b = Start("b", script);
  ScriptInstance* idle = Start("idle", script);  // never run: gets nothing
  host->blockOn("hold");
  ASSERT_TRUE(host->run(*a));
  ASSERT_TRUE(host->run(*b));
  ASSERT_TRUE(host->waitFor("show:hold", 2));
  // Both events arrive while the scripts are held inside a request: when
  // they ask for the event, the host has only the second one.
  host->broadcastWindowEvent({"w", "one", ""});
  host->broadcastWindowEvent({"w", "two", ""});
  host->release();
  ASSERT_TRUE(host->waitFor("show:two", 2));
  host->stop(*a);
  host->stop(*b);
  ASSERT_TRUE(Ends(a));
  ASSERT_TRUE(Ends(b));
  EXPECT_EQ(host->count("show:one"), 0u);
  EXPECT_FALSE(idle->worker.started());
  EXPECT_EQ(idle->variables.Find("window_name"), nullptr);
}

TEST_F(ScriptThreadTest, RemoveAndReloadOnlyEndedInstances) {
  ScriptInstance* first = Start("first", kSleeper);
  ScriptInstance* second = Start("second", Lines({"show v1"}));
  ScriptInstance* third = Start("third", Lines({"show x"}));
  ASSERT_TRUE(host->run(*first));
  ASSERT_TRUE(host->waitFor("state:sleep"));
  EXPECT_FALSE(host->remove(*first));
  EXPECT_EQ(host->reload(*first), nullptr);
  EXPECT_EQ(host->instanceCount(), 3u);

  host->stop(*first);
  ASSERT_TRUE(Ends(first));
  EXPECT_TRUE(host->remove(*first));
  EXPECT_EQ(host->instanceCount(), 2u);
  EXPECT_EQ(second->row, 0);
  EXPECT_EQ(third->row, 1);
  EXPECT_EQ(host->instanceAt(0), second);

  ASSERT_TRUE(host->run(*second));
  ASSERT_TRUE(Ends(second));
  dir.Write("Script/second.vlm", Lines({"show v2"}));
  ScriptInstance* again = host->reload(*second);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->id, 4);
  EXPECT_EQ(again->displayName, "second");
  EXPECT_EQ(again->row, 1);
  EXPECT_EQ(third->row, 0);
  ASSERT_TRUE(host->run(*again));
  ASSERT_TRUE(Ends(again));
  EXPECT_EQ(host->count("show:v2"), 1u);
}

TEST_F(ScriptThreadTest, AWorkerThatCannotBeCreatedLeavesTheInstanceListed) {
  ScriptInstance* s = Start("s", Lines({"show ran"}));
  WorkerThread::FailNextStartForTesting();
  EXPECT_FALSE(host->run(*s));
  EXPECT_FALSE(s->worker.started());
  EXPECT_TRUE(host->isPaused(*s));
  EXPECT_EQ(host->instanceCount(), 1u);
  ASSERT_TRUE(host->run(*s));
  ASSERT_TRUE(Ends(s));
  EXPECT_EQ(host->log(), (std::vector<std::string>{"show:ran", "state:exit"}));
}

TEST_F(ScriptThreadTest, ShuttingDownStopsEveryScript) {
  ScriptInstance* sleeping = Start("sleeping", kSleeper);
  ScriptInstance* prompting = Start("prompting", Lines({"prompt q"}));
  ScriptInstance* suspended = Start("suspended", Lines({"suspend"}));
  for (ScriptInstance* s : {sleeping, prompting, suspended}) ASSERT_TRUE(host->run(*s));
  ASSERT_TRUE(host->waitFor("state:sleep"));
  ASSERT_TRUE(host->waitFor("prompt:q"));
  ASSERT_TRUE(host->waitFor("suspended:"));
  host->shutdown();
  EXPECT_EQ(host->count("state:stop"), 3u);
  EXPECT_EQ(host->count("state:exit"), 3u);
  for (ScriptInstance* s : {sleeping, prompting, suspended}) EXPECT_FALSE(s->worker.alive());
}

// Holds the script before the statement on `holdLine` as a debugger's pause
// does, until the script's stop wakes it through the stop's abort hook.
class PausingObserver : public RunObserver {
 public:
  explicit PausingObserver(uint32_t holdLine) : holdLine_(holdLine) {}
  void BeforeStatement(const RunStatement& s, StopSignal& stop, const VariableTable&) override {
    if (s.line != holdLine_) return;
    // Set before taking our lock: the stop runs the hook under its own.
    stop.SetAbortHook([this] {
      std::lock_guard<std::mutex> wake(mutex_);
      cv_.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex_);
    holding_ = true;
    cv_.notify_all();
    cv_.wait(lock, [&] { return stop.requested(); });
    holding_ = false;
    lock.unlock();
    stop.ClearAbortHook();
  }
  bool WaitHolding() {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] { return holding_; });
  }

 private:
  uint32_t holdLine_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool holding_ = false;
};

TEST_F(ScriptThreadTest, AStopReachesAScriptHeldByItsObserver) {
  PausingObserver observer(2);
  ScriptInstance* s = Start("held", Lines({"show before", "show held", "show after"}));
  s->observer = &observer;
  ASSERT_TRUE(host->run(*s));
  ASSERT_TRUE(observer.WaitHolding());
  host->stop(*s);
  ASSERT_TRUE(Ends(s));
  // The statement it was held before never ran.
  EXPECT_EQ(host->log(), (std::vector<std::string>{"show:before", "state:stop", "state:exit"}));
}

}  // namespace
}  // namespace velmar
