// The windowed host's request logic with real scripts on real workers: the
// test thread plays the UI thread, and a stand-in records what the widgets
// would show (the widgets themselves need a display and WebEngine, which the
// thread-sanitizer build leaves out). Waits are for events, never for time.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/script_context.h"
#include "support/test_support.h"
#include "ui/request_queue.h"
#include "ui/ui_host_core.h"

namespace velmar {
namespace {

using testing::Lines;
using testing::TempDir;
using Clock = std::chrono::steady_clock;

constexpr auto kTimeLimit = std::chrono::seconds(30);

// The UI side without widgets. Everything here runs on the test thread,
// which the host took as its UI thread.
class StandInHost : public UiHostCore {
 public:
  explicit StandInHost(const EngineEnvironment& env)
      : UiHostCore(env, [this] {
          std::lock_guard<std::mutex> lock(wakeMutex_);
          woken_ = true;
          wakeCv_.notify_all();
        }) {}
  ~StandInHost() override {
    stopAllAndWait(10000);
    detachWake();
  }

  // Runs the UI thread's work until `done` holds; false on time-out.
  bool PumpUntil(const std::function<bool()>& done) {
    const auto deadline = Clock::now() + kTimeLimit;
    for (;;) {
      processRequests();
      if (done()) return true;
      if (Clock::now() >= deadline) return done();
      // A worker's very last step (leaving its thread) sends no wake-up, so
      // the wait also looks again after a short while.
      std::unique_lock<std::mutex> lock(wakeMutex_);
      wakeCv_.wait_until(lock, std::min(deadline, Clock::now() + std::chrono::milliseconds(10)),
                         [&] { return woken_; });
      woken_ = false;
    }
  }

  std::vector<std::string> shown;
  std::map<ScriptInstance*, std::string> lastState;  // the state cell of each row
  std::set<std::thread::id> shownOn;
  std::vector<std::shared_ptr<PendingRequest>> alerts;  // open boxes
  std::vector<std::string> cancelled;                   // texts of boxes closed by a stop
  std::map<ScriptInstance*, int> prompts;               // open dialogs by instance
  std::vector<int> closedPrompts;
  std::vector<std::string> notes;
  std::vector<std::shared_ptr<PendingRequest>> pageCalls;

  std::size_t Count(const std::string& entry) const {
    std::size_t n = 0;
    for (const auto& s : shown) n += s == entry;
    return n;
  }
  void CloseAlert(const std::string& text) {
    for (auto it = alerts.begin(); it != alerts.end(); ++it) {
      if ((*it)->text == text) {
        (*it)->finish();
        alerts.erase(it);
        return;
      }
    }
    ADD_FAILURE() << "no open alert " << text;
  }
  void Answer(ScriptInstance& instance, const std::string& answer) {
    const int dialog = prompts.at(&instance);
    answerPrompt(instance, reinterpret_cast<void*>(static_cast<intptr_t>(dialog)), answer);
  }

 protected:
  void showText(ScriptInstance* instance, int32_t code, const std::string& text) override {
    if (code == REQ_STATE) lastState[instance] = text;
    shown.push_back(std::to_string(code) + ":" + text);
    shownOn.insert(std::this_thread::get_id());
  }
  void openAlert(const std::shared_ptr<PendingRequest>& pending) override {
    alerts.push_back(pending);
  }
  void cancelRequest(const PendingRequest& pending) override {
    std::erase_if(alerts, [&](const auto& p) { return p.get() == &pending; });
    std::erase_if(pageCalls, [&](const auto& p) { return p.get() == &pending; });
    cancelled.push_back(pending.text);
  }
  void openNote(ScriptInstance& instance, const std::string& text) override {
    notes.push_back(std::to_string(instance.id) + ":" + text);
  }
  void* openPrompt(ScriptInstance& instance, const std::string&) override {
    const int dialog = ++lastDialog_;
    prompts[&instance] = dialog;
    return reinterpret_cast<void*>(static_cast<intptr_t>(dialog));
  }
  void closePrompt(void* dialog) override {
    const int id = static_cast<int>(reinterpret_cast<intptr_t>(dialog));
    closedPrompts.push_back(id);
    std::erase_if(prompts, [&](const auto& entry) { return entry.second == id; });
  }
  void windowRequest(const std::shared_ptr<PendingRequest>& pending) override {
    if (pending->code == REQ_JSWINDOW) {
      pageCalls.push_back(pending);  // the page answers later, or never
      return;
    }
    pending->finish();
  }

 private:
  std::mutex wakeMutex_;
  std::condition_variable wakeCv_;
  bool woken_ = false;
  int lastDialog_ = 0;
};

class HostCoreTest : public ::testing::Test {
 protected:
  ScriptInstance* Start(const std::string& name, const std::string& script) {
    const auto path = dir.Write("Script/" + name + ".vlm", script);
    ScriptInstance* instance = host->startScript(name, path.string(), "");
    EXPECT_TRUE(host->run(*instance));
    return instance;
  }
  bool Shown(const std::string& entry, std::size_t times = 1) {
    return host->PumpUntil([&] { return host->Count(entry) >= times; });
  }
  bool Ended(ScriptInstance* instance) {
    return host->PumpUntil([&] { return !instance->worker.alive(); });
  }

  TempDir dir;
  EngineEnvironment env = EngineEnvironment::ForHome(dir.path(), KeywordFlavor::kRunner);
  std::unique_ptr<StandInHost> host = std::make_unique<StandInHost>(env);
};

// A script that writes huge list texts in a loop while the UI thread is
// busy: the queue keeps at most kMaxPostedBytes of them. Older texts of the
// same kind from the same script give way (the row shows only the newest),
// and when that makes no room the worker waits for the UI thread.
TEST(RequestQueueBytes, OlderTextsOfTheSameKindGiveWayAndOtherwiseTheWorkerWaits) {
  RequestQueue queue([] {});
  const EngineEnvironment env;
  ScriptContext a(env);
  ScriptContext b(env);
  const std::size_t big = RequestQueue::kMaxPostedBytes / 4 + 1;  // four never fit

  // Nothing takes from the queue meanwhile: were a post to wait, the worker
  // would wait for ever, so it runs on a thread of its own with a limit.
  std::vector<std::size_t> bytes;
  auto worker = std::async(std::launch::async, [&] {
    queue.post({REQ_RIGHT, &a}, "1");
    for (int i = 0; i < 10; ++i) {
      queue.post({REQ_SHOW, &a}, std::string(big, static_cast<char>('a' + i)));
      bytes.push_back(queue.postedBytes());
    }
    queue.post({REQ_STATE, &b}, "b");
  });
  if (worker.wait_for(kTimeLimit) != std::future_status::ready) {
    queue.close();  // lets the worker go
    FAIL() << "a post waited although older texts of its kind could give way";
  }
  for (std::size_t n : bytes) EXPECT_LE(n, RequestQueue::kMaxPostedBytes);
  std::vector<std::string> kept;
  for (const auto& p : queue.take()) {
    kept.push_back(std::to_string(p->code) + ":" + (p->instance == &a ? "a:" : "b:") +
                   p->text.substr(0, 1) + ":" + std::to_string(p->text.size()));
  }
  // In order, with the newest show of a last among its kind.
  ASSERT_GE(kept.size(), 3u);
  EXPECT_EQ(kept.front(), "3:a:1:1");
  EXPECT_EQ(kept[kept.size() - 2], "2:a:j:" + std::to_string(big));
  EXPECT_EQ(kept.back(), "5:b:b:1");
  EXPECT_EQ(queue.postedBytes(), 0u);

  // Texts of three scripts that cannot give way to one another: the fourth
  // script's text waits until the UI thread has taken what is queued.
  ScriptContext c(env);
  ScriptContext d(env);
  queue.post({REQ_SHOW, &a}, std::string(big, 'a'));
  queue.post({REQ_SHOW, &b}, std::string(big, 'b'));
  queue.post({REQ_SHOW, &c}, std::string(big, 'c'));
  std::atomic<bool> returned{false};
  std::thread waiting([&] {
    queue.post({REQ_SHOW, &d}, std::string(big, 'd'));
    returned = true;
  });
  const auto deadline = Clock::now() + kTimeLimit;
  while (queue.queued() < 4 && Clock::now() < deadline) std::this_thread::yield();
  EXPECT_EQ(queue.postedBytes(), 3 * big);  // the waiting text is not among them
  EXPECT_FALSE(returned.load());            // its worker waits for the answer
  std::vector<std::shared_ptr<PendingRequest>> taken = queue.take();
  ASSERT_EQ(taken.size(), 4u);
  EXPECT_EQ(taken.back()->instance, &d);
  EXPECT_FALSE(returned.load());
  for (auto& p : taken) p->finish();
  waiting.join();
  EXPECT_TRUE(returned.load());
}

TEST_F(HostCoreTest, ManyScriptsGetEveryRequestAnsweredOnTheUiThread) {
  constexpr int kScripts = 20;
  std::vector<ScriptInstance*> scripts;
  for (int i = 0; i < kScripts; ++i) {
    scripts.push_back(
        Start("s" + std::to_string(i), Lines({"var [#n] 0", "while ([#n]<200)", "{", "show tick",
                                              "var [#n] ([#n]+1)", "}", "show done"})));
  }
  ASSERT_TRUE(Shown("2:done", kScripts));
  EXPECT_EQ(host->Count("2:tick"), static_cast<std::size_t>(kScripts * 200));
  EXPECT_EQ(host->shownOn, std::set<std::thread::id>{std::this_thread::get_id()});
  for (ScriptInstance* s : scripts) EXPECT_TRUE(Ended(s));
}

// The row of a paused script says "pause" until the script itself says
// something after it runs again: the "sleep" texts it queued before the
// command (or on its way to the pause) are older and never shown after it.
TEST_F(HostCoreTest, PauseAndRunAreTheLastWordOnTheRow) {
  constexpr int kScripts = 60;
  std::vector<ScriptInstance*> scripts;
  for (int i = 0; i < kScripts; ++i) {
    scripts.push_back(Start("p" + std::to_string(i),
                            Lines({"var [#n] 0", "while 1", "{", "var [#n] ([#n]+1)", "pause 1",
                                   "}"})));
  }
  const auto all = [&](const std::string& state) {
    for (ScriptInstance* s : scripts) {
      if (host->lastState[s] != state) return false;
    }
    return true;
  };
  ASSERT_TRUE(host->PumpUntil([&] { return all("sleep"); }));
  for (int round = 0; round < 3; ++round) {
    // The commands as the manager gives them: no requests answered between.
    for (ScriptInstance* s : scripts) {
      host->pause(*s);
      host->commandWroteState(*s);
      host->lastState[s] = "pause";
    }
    const auto until = Clock::now() + std::chrono::milliseconds(300);
    host->PumpUntil([&] { return Clock::now() >= until; });
    for (int i = 0; i < kScripts; ++i) {
      EXPECT_EQ(host->lastState[scripts[i]], "pause") << "row " << i << ", round " << round;
    }
    for (ScriptInstance* s : scripts) {
      host->run(*s);
      host->commandWroteState(*s);
      host->lastState[s] = "run";
    }
    // Running again, each script's own next text is shown.
    ASSERT_TRUE(host->PumpUntil([&] { return all("sleep"); })) << "round " << round;
  }
  for (ScriptInstance* s : scripts) host->stopScript(*s);
  for (ScriptInstance* s : scripts) EXPECT_TRUE(Ended(s));
  // The stop's own texts reach the rows (the last ones may still be queued
  // when a worker has ended).
  EXPECT_TRUE(host->PumpUntil([&] { return all("exit"); }));
}

TEST_F(HostCoreTest, TwoAlertsOpenAtOnceCloseInAnyOrder) {
  ScriptInstance* a = Start("a", Lines({"alert first", "show a went on"}));
  ScriptInstance* b = Start("b", Lines({"alert second", "show b went on"}));
  ASSERT_TRUE(host->PumpUntil([&] { return host->alerts.size() == 2; }));
  host->CloseAlert("second");
  ASSERT_TRUE(Shown("2:b went on"));
  EXPECT_EQ(host->Count("2:a went on"), 0u);  // still inside its alert
  EXPECT_TRUE(a->worker.alive());
  host->CloseAlert("first");
  ASSERT_TRUE(Shown("2:a went on"));
  EXPECT_TRUE(Ended(a));
  EXPECT_TRUE(Ended(b));
  EXPECT_TRUE(host->cancelled.empty());
}

TEST_F(HostCoreTest, StopEndsAnAlertAndAPageCallAtOnce) {
  ScriptInstance* a = Start("a", Lines({"alert waiting", "show after alert"}));
  ScriptInstance* j = Start("j", Lines({"jswindow w 1+1", "show after page"}));
  ASSERT_TRUE(
      host->PumpUntil([&] { return host->alerts.size() == 1 && host->pageCalls.size() == 1; }));
  host->stopScript(*a);
  host->stopScript(*j);
  ASSERT_TRUE(Ended(a));
  ASSERT_TRUE(Ended(j));
  // The box and the page call belonging to the stopped scripts are closed.
  ASSERT_TRUE(host->PumpUntil([&] { return host->cancelled.size() == 2; }));
  EXPECT_TRUE(host->alerts.empty());
  EXPECT_TRUE(host->pageCalls.empty());
  EXPECT_EQ(host->Count("2:after alert"), 0u);
  EXPECT_EQ(host->Count("2:after page"), 0u);
  // The final states still reach the host.
  EXPECT_EQ(host->Count("5:exit"), 2u);
}

TEST_F(HostCoreTest, PageAnswerSetsReturnAndStatusOfTheWaitingScript) {
  ScriptInstance* j = Start("j", Lines({"jswindow w 6*7", "show [#status] [#return]"}));
  ASSERT_TRUE(host->PumpUntil([&] { return host->pageCalls.size() == 1; }));
  auto call = host->pageCalls.front();
  EXPECT_EQ(call->text, "w 6*7");
  EXPECT_TRUE(call->finish([](ScriptContext& ctx) {
    ctx.variables["return"] = "42";
    ctx.variables["status"] = "1";
  }));
  EXPECT_FALSE(call->finish());  // a late second answer changes nothing
  ASSERT_TRUE(Shown("2:1 42"));
  EXPECT_TRUE(Ended(j));
}

TEST_F(HostCoreTest, PromptAnswerEscapeAndSeveralAtOnce) {
  ScriptInstance* a = Start("a", Lines({"prompt name?", "show got [#input]"}));
  ScriptInstance* b =
      Start("b", Lines({"var [#input] before", "prompt other?", "show got <[#input]>"}));
  ASSERT_TRUE(host->PumpUntil([&] { return host->prompts.size() == 2; }));
  // Both workers stay inside their prompts until the answers come.
  EXPECT_TRUE(host->isPaused(*a));
  EXPECT_TRUE(host->isPaused(*b));
  host->Answer(*b, "");  // Esc
  ASSERT_TRUE(Shown("2:got <>"));
  host->Answer(*a, "Ann");
  ASSERT_TRUE(Shown("2:got Ann"));
  EXPECT_EQ(host->closedPrompts.size(), 2u);
  EXPECT_TRUE(Ended(a));
  EXPECT_TRUE(Ended(b));
}

TEST_F(HostCoreTest, EventWhilePromptIsOpenResumesAndTheLaterAnswerStillArrives) {
  ScriptInstance* s =
      Start("s", Lines({"<main>", "prompt code?", "show after prompt", "while 1", "{", "pause 20",
                        "show input [#input]", "}", "<on_w_ping>", "show pong", "return"}));
  ASSERT_TRUE(host->PumpUntil([&] { return host->prompts.size() == 1; }));
  host->broadcastWindowEvent({"w", "ping", ""});
  ASSERT_TRUE(Shown("2:pong"));
  ASSERT_TRUE(Shown("2:after prompt"));
  EXPECT_EQ(host->prompts.size(), 1u);  // the dialog stays open
  host->Answer(*s, "1234");
  ASSERT_TRUE(Shown("2:input 1234"));
  host->stopScript(*s);
  EXPECT_TRUE(Ended(s));
}

TEST_F(HostCoreTest, StopClosesTheOpenPrompt) {
  ScriptInstance* s = Start("s", Lines({"prompt code?", "show after"}));
  ASSERT_TRUE(host->PumpUntil([&] { return host->prompts.size() == 1; }));
  host->stopScript(*s);
  EXPECT_TRUE(host->prompts.empty());
  ASSERT_TRUE(Ended(s));
  EXPECT_EQ(host->Count("2:after"), 0u);
  EXPECT_TRUE(host->removeScript(*s));
}

TEST_F(HostCoreTest, NoteAndJsAreAnsweredAndUnknownCodesIgnored) {
  ScriptInstance* s = Start("s", Lines({"note hello", "js 20+22", "show js [#status] [#return]",
                                        "js (", "show [#status]"}));
  ASSERT_TRUE(Shown("2:0"));
  EXPECT_EQ(host->Count("2:js 1 42"), 1u);
  EXPECT_EQ(host->notes, std::vector<std::string>{std::to_string(s->id) + ":hello"});
  EXPECT_TRUE(Ended(s));
}

// Program exit while scripts still send requests, wait in alerts and
// prompts: the UI thread keeps answering, so nothing waits for it, and
// every worker ends well within the limit.
TEST_F(HostCoreTest, StopAllWhileScriptsWaitForTheUiThread) {
  std::vector<ScriptInstance*> scripts;
  for (int i = 0; i < 5; ++i) {
    scripts.push_back(Start("busy" + std::to_string(i), Lines({"while 1", "{", "show busy", "}"})));
  }
  scripts.push_back(Start("alerting", Lines({"alert stuck"})));
  scripts.push_back(Start("prompting", Lines({"prompt stuck?"})));
  scripts.push_back(Start("paging", Lines({"jswindow w while(1){}"})));
  ASSERT_TRUE(host->PumpUntil([&] {
    return host->Count("2:busy") >= 50 && host->alerts.size() == 1 && host->prompts.size() == 1 &&
           host->pageCalls.size() == 1;
  }));
  EXPECT_TRUE(host->stopAllAndWait(20000));
  for (ScriptInstance* s : scripts) EXPECT_FALSE(s->worker.alive());
  EXPECT_TRUE(host->alerts.empty());
  EXPECT_TRUE(host->prompts.empty());
  EXPECT_TRUE(host->pageCalls.empty());
  // Requests after the exit return at once, unanswered.
  ScriptInstance* late = Start("late", Lines({"alert after exit", "show after exit"}));
  late->worker.waitFinished(30000);
  EXPECT_FALSE(late->worker.alive());
}

}  // namespace
}  // namespace velmar
