// The runner's core in-process with the console host: window events from the
// tray and the hot key reaching the scripts, showtray/hidetray, the hot key
// registration, the quit procedure and starts whose worker cannot be made.
//
// The shell records what it is asked to do with the tray icon and the hot
// key: there is no desktop here to show a real icon in.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "engine/engine_environment.h"
#include "engine/worker_thread.h"
#include "ui/hot_key_text.h"
#include "runner/runner_console_host.h"
#include "runner/runner_core.h"
#include "runner/runner_texts.h"
#include "runner/runner_settings.h"
#include "runner/task_loop.h"
#include "support/test_support.h"

namespace velmar {
namespace {

using testing::TempDir;

class RecordingShell : public RunnerShell {
 public:
  void post(std::function<void()> task) override { loop.post(std::move(task)); }
  void quit(int exitStatus) override { loop.quit(exitStatus); }
  void showMessage(const std::string& text) override { Record("message " + text); }
  void note(const std::string& text) override { Record("note " + text); }
  void openUrl(const std::string& url) override { Record("open " + url); }
  void addTrayIcon(const std::string& tip) override { Record("add " + tip); }
  void modifyTrayIcon(const std::string& tip) override { Record("modify " + tip); }
  void deleteTrayIcon() override { Record("delete"); }
  bool registerHotKey(const HotKey& key) override {
    Record("register " + std::to_string(key.control) + std::to_string(key.alt) + " " +
           std::to_string(key.keyCode));
    return true;
  }
  void unregisterHotKey() override { Record("unregister"); }

  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

  TaskLoop loop;

 private:
  void Record(std::string call) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(call));
  }
  std::mutex mutex_;
  std::vector<std::string> calls_;
};

// A runner over a home folder with its output in a file, its loop on a
// thread of its own.
class RunnerFixture {
 public:
  explicit RunnerFixture(const TempDir& home)
      : env_(EngineEnvironment::ForHome(home.path(), KeywordFlavor::kRunner)),
        outPath_(home.path() / "out.txt"),
        out_(std::fopen(outPath_.c_str(), "w")),
        host_(env_, out_, -1),
        core_(host_, shell, RunnerSettings::Read(env_.config)) {
    host_.attach(&core_);
  }
  ~RunnerFixture() {
    if (loopThread_.joinable()) {
      shell.loop.quit(-1);
      loopThread_.join();
    }
    host_.shutdown();
    std::fclose(out_);
  }

  // Starts on the calling thread, as the program does before its loop.
  void Start() {
    core_.start();
    loopThread_ = std::thread([this] { status_ = shell.loop.run(); });
  }
  // On the runner's thread, as the tray and the hot key call it.
  void OnRunner(std::function<void(RunnerCore&)> f) {
    shell.post([this, f] { f(core_); });
  }
  bool WaitForOutput(const std::string& part, int ms = 10000) {
    for (int waited = 0; waited < ms; waited += 10) {
      if (Output().find(part) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  std::string Output() { return testing::ReadFile(outPath_); }
  // The loop's status once it has ended; -2 when it is still running.
  int WaitForQuit(int ms = 20000) {
    for (int waited = 0; waited < ms && loopThread_.joinable(); waited += 10) {
      if (status_ != -2) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (status_ != -2 && loopThread_.joinable()) loopThread_.join();
    return status_;
  }

  RecordingShell shell;
  RunnerCore& core() { return core_; }
  RunnerConsoleHost& host() { return host_; }

 private:
  EngineEnvironment env_;
  std::filesystem::path outPath_;
  std::FILE* out_;
  RunnerConsoleHost host_;
  RunnerCore core_;
  std::thread loopThread_;
  std::atomic<int> status_{-2};
};

constexpr char kEventScript[] =
    "<main>\n"
    "show ready\n"
    "suspend\n"
    "<on_tray_click>\n"
    "show got [#window_name] [#window_event] [#window_value].\n"
    "return\n"
    "<on_tray_click_show>\n"
    "show got show\n"
    "return\n"
    "<on_system_hotkey>\n"
    "show got hotkey\n"
    "return\n"
    "<on_tray_click_quit>\n"
    "show got quit\n"
    "exit\n";

TEST(RunnerCore, TrayAndHotKeyEventsReachEveryScript) {
  TempDir home;
  home.Write("Config.ini", "[setting]\nhomepage=https://example.org/help\nhotkey=CTRL + ALT + F\n");
  home.Write("Script/events.vlm", kEventScript);
  home.Write("Script/other.vlm", "<main>\nsuspend\n<on_tray_click>\nshow other click\nreturn\n");
  home.Write("Velmar.boot", "e^events.vlm^\no^other.vlm^\n");
  RunnerFixture runner(home);
  runner.Start();
  ASSERT_TRUE(runner.WaitForOutput("show: ready\n"));

  runner.OnRunner([](RunnerCore& c) { c.trayNotify(kTrayLeftButtonUp); });
  ASSERT_TRUE(runner.WaitForOutput("show: got tray click .\n")) << runner.Output();
  // The suspended script without the sections of the others is woken too.
  ASSERT_TRUE(runner.WaitForOutput("show: other click\n")) << runner.Output();
  runner.OnRunner([](RunnerCore& c) { c.trayMenuCommand(kTrayMenuShow); });
  ASSERT_TRUE(runner.WaitForOutput("show: got show\n")) << runner.Output();
  runner.OnRunner([](RunnerCore& c) { c.hotKeyPressed(); });
  ASSERT_TRUE(runner.WaitForOutput("show: got hotkey\n")) << runner.Output();
  runner.OnRunner([](RunnerCore& c) { c.trayMenuCommand(kTrayMenuSupport); });
  runner.OnRunner([](RunnerCore& c) { c.trayNotify(512); });  // a mouse move: nothing
  runner.OnRunner([](RunnerCore& c) { c.trayMenuCommand(kTrayMenuQuit); });
  ASSERT_TRUE(runner.WaitForOutput("show: got quit\n")) << runner.Output();
  // One script left: it does not end on the quit item, so the runner stays.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // The counters belong to the runner's thread.
  std::promise<int> ended;
  runner.OnRunner([&](RunnerCore& c) { ended.set_value(c.endedCount()); });
  EXPECT_EQ(ended.get_future().get(), 1);
  runner.OnRunner([](RunnerCore& c) { c.quitProcedure(0); });
  EXPECT_EQ(runner.WaitForQuit(), 0);

  const std::vector<std::string> calls = runner.shell.Calls();
  // Control + Alt + 'F'; the support item opens the homepage.
  EXPECT_EQ(calls.front(), "register 11 70");
  EXPECT_NE(std::find(calls.begin(), calls.end(), "open https://example.org/help"), calls.end());
  EXPECT_EQ(calls.back(), "unregister");
  EXPECT_EQ(runner.Output().find("got tray click.\n"), std::string::npos);
}

TEST(RunnerCore, ShowTrayAddsOnceThenRefreshesAndHideTrayNeedsAnIcon) {
  TempDir home;
  home.Write("Config.ini", "[setting]\nappname=My tool\nhotkey=\n");
  home.Write("Script/tray.vlm",
             "hidetray\nshowtray\nshowtray\nhidetray\nhidetray\nshowtray\nshow done\n");
  home.Write("Velmar.boot", "t^tray.vlm^\n");
  RunnerFixture runner(home);
  runner.Start();
  EXPECT_EQ(runner.WaitForQuit(), 0);
  EXPECT_EQ(runner.Output(), "show: done\nstate: exit\n");
  // An empty hot key registers nothing; the icon still shown at the end is
  // removed by the quit procedure.
  EXPECT_EQ(runner.shell.Calls(), (std::vector<std::string>{"add My tool", "modify My tool",
                                                            "delete", "add My tool", "delete"}));
}

TEST(RunnerCore, BootFailureShowsTheMessageAndQuitsAsUnreadable) {
  TempDir home;
  home.Write("Velmar.boot", "only^two\n");
  RunnerFixture runner(home);
  runner.Start();
  EXPECT_EQ(runner.WaitForQuit(), 3);
  const std::vector<std::string> calls = runner.shell.Calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), std::string("message ") + runner_text::kBootFileMessage),
            calls.end());
}

TEST(RunnerCore, AWorkerThatCannotBeCreatedIsNotCounted) {
  TempDir home;
  home.Write("Script/a.vlm", "show a\n");
  home.Write("Velmar.boot", "a^a.vlm^\n");
  {
    // No worker at all: the boot-file message, and the program ends.
    RunnerFixture runner(home);
    WorkerThread::FailNextStartForTesting();
    runner.Start();
    EXPECT_EQ(runner.WaitForQuit(), 3);
    EXPECT_EQ(runner.host().instanceCount(), 0u);
    EXPECT_EQ(runner.host().lastId(), 0);
    const std::vector<std::string> calls = runner.shell.Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), std::string("message ") + runner_text::kBootFileMessage),
              calls.end());
  }
  home.Write("Velmar.boot", "a^a.vlm^\nb^a.vlm^\n");
  {
    // The first fails, the second runs under the id the first gave back.
    RunnerFixture runner(home);
    WorkerThread::FailNextStartForTesting();
    runner.Start();
    EXPECT_EQ(runner.core().startedCount(), 1);
    EXPECT_EQ(runner.WaitForQuit(), 0);
    EXPECT_EQ(runner.Output(), "show: a\nstate: exit\n");
  }
}

// A boot file longer than the number of scripts one program runs starts
// that many, says so once, and the runner still ends as usual.
TEST(RunnerCore, StartsNoMoreScriptsThanTheLimit) {
  TempDir home;
  home.Write("Script/wait.vlm", "<main>\nsuspend\n");
  std::string boot;
  for (std::size_t i = 0; i < kMaxRunningScripts + 3; ++i) {
    boot += "w" + std::to_string(i) + "^wait.vlm^\n";
  }
  home.Write("Velmar.boot", boot);
  RunnerFixture runner(home);
  runner.Start();
  EXPECT_EQ(runner.core().startedCount(), static_cast<int>(kMaxRunningScripts));
  EXPECT_EQ(runner.host().instanceCount(), kMaxRunningScripts);
  const std::vector<std::string> calls = runner.shell.Calls();
  EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                          [](const std::string& c) {
                            return c.find("3 script(s) of the boot file were not started") !=
                                   std::string::npos;
                          }),
            1);
  // One more is refused while they run, and reported as such.
  ScriptInstance* extra = runner.host().startScript("x", (home.path() / "x").string(), "");
  EXPECT_FALSE(runner.host().run(*extra));
  EXPECT_TRUE(runner.host().atRunningLimit());
  runner.host().discardUnstarted(*extra);
  runner.OnRunner([](RunnerCore& core) { core.quitProcedure(0); });
  EXPECT_EQ(runner.WaitForQuit(60000), 0);
  EXPECT_FALSE(runner.host().atRunningLimit());
}

// An exception thrown by a task is told, and the loop goes on to the next.
TEST(TaskLoop, NoExceptionEndsTheLoop) {
  TaskLoop loop;
  loop.post([] { throw std::runtime_error("lost task"); });
  loop.post([&loop] { loop.quit(5); });
  EXPECT_EQ(loop.run(), 5);
}

// A worker inside a native call of 8 s cannot see the stop: the quit
// procedure gives up after 6 s and the runner goes on; it quits when that
// script ends by itself.
TEST(RunnerCore, QuitIsRefusedWhileAWorkerIsStillAlive) {
  TempDir home;
  home.Write("Script/busy.vlm",
             "loaddll c libc.so.6\nshow busy\nshow [~(int)c.sleep<<<(int)8]\n"
             "show after\n");
  home.Write("Script/idle.vlm", "show idle\nsuspend\n");
  home.Write("Velmar.boot", "b^busy.vlm^\ni^idle.vlm^\n");
  RunnerFixture runner(home);
  runner.Start();
  ASSERT_TRUE(runner.WaitForOutput("show: busy\n"));
  ASSERT_TRUE(runner.WaitForOutput("show: idle\n"));
  std::atomic<int> answer{-1};
  const auto before = std::chrono::steady_clock::now();
  runner.OnRunner([&](RunnerCore& c) { answer = c.quitProcedure(0) ? 1 : 0; });
  while (answer == -1) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const auto waited = std::chrono::steady_clock::now() - before;
  EXPECT_EQ(answer, 0);
  EXPECT_GE(waited, std::chrono::milliseconds(kQuitWaitMs));
  // The idle script was stopped; the busy one stops after its call.
  EXPECT_EQ(runner.WaitForQuit(), 0);
  EXPECT_EQ(runner.Output().find("show: after"), std::string::npos) << runner.Output();
  const std::vector<std::string> calls = runner.shell.Calls();
  EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [](const std::string& c) {
    return c.find("has not ended after 6 seconds") != std::string::npos;
  }));
}

TEST(RunnerSettings, DefaultsAndTheHundredByteRead) {
  TempDir home;
  const RunnerSettings none = RunnerSettings::Read(Profile(home.path() / "Config.ini"));
  EXPECT_EQ(none.appName, "");
  EXPECT_EQ(none.homepage, kDefaultHomepage);
  EXPECT_EQ(none.hotKey, "CTRL + 9");
  std::string longName = "a";
  for (int i = 0; i < 40; ++i) longName += "中";
  home.Write("Config.ini", "[setting]\nappname=" + longName + "\n");
  const RunnerSettings cut = RunnerSettings::Read(Profile(home.path() / "Config.ini"));
  ASSERT_EQ(cut.appName.size(), 99u);
  // 1 + 32 whole characters; the two bytes of the cut 33rd are dropped.
  EXPECT_EQ(TrayTooltip(cut.appName, CodePage::Get(CodePage::kUtf8)), longName.substr(0, 97));
}

TEST(RunnerSettings, TooltipsAreCutAtACharacterBoundary) {
  const CodePage& utf8 = CodePage::Get(CodePage::kUtf8);
  const CodePage& gbk = CodePage::Get(CodePage::kGbk);
  EXPECT_EQ(TrayTooltip(std::string(200, 'x'), utf8), std::string(127, 'x'));
  // 126 ASCII bytes and a 3-byte character that does not fit.
  EXPECT_EQ(TrayTooltip(std::string(126, 'x') + "中", utf8), std::string(126, 'x'));
  // GBK: 63 two-byte characters fill 126 bytes; the 64th does not fit.
  std::string gbkText;
  for (int i = 0; i < 64; ++i) gbkText += "\xD6\xD0";
  EXPECT_EQ(TrayTooltip(gbkText, gbk), gbkText.substr(0, 126));
  // A lead byte alone at the end is the rest of a cut character.
  EXPECT_EQ(TrayTooltip("ab\xD6", gbk), "ab");
  EXPECT_EQ(TrayTooltip("ok", gbk), "ok");
}

TEST(HotKey, TextToModifiersAndTheLastByte) {
  const HotKey both = HotKeyFromText("CTRL + ALT + F");
  EXPECT_TRUE(both.control);
  EXPECT_TRUE(both.alt);
  EXPECT_EQ(both.keyCode, 'F');
  const HotKey plain = HotKeyFromText("9");
  EXPECT_FALSE(plain.control || plain.alt);
  EXPECT_EQ(plain.keyCode, '9');
  // The last byte as it is: 'a' is 0x61, the keypad's 1.
  const HotKey pad = HotKeyFromText("CTRL + a");
  EXPECT_TRUE(pad.control);
  EXPECT_FALSE(pad.alt);
  EXPECT_EQ(pad.keyCode, 0x61);
  ASSERT_NE(FindKey(pad.keyCode), nullptr);
  EXPECT_STREQ(FindKey(pad.keyCode)->name, "Num 1");
  EXPECT_EQ(FindKey(pad.keyCode)->x11KeySym, 0xFFB1u);
  EXPECT_EQ(FindKey('F')->x11KeySym, static_cast<uint32_t>('f'));
  EXPECT_EQ(FindKey('9')->x11KeySym, static_cast<uint32_t>('9'));
  EXPECT_FALSE(HotKeyFromText("").valid());
  EXPECT_EQ(FindKey(':'), nullptr);  // 0x3A names no key
  // Lower-case modifiers are no modifiers.
  EXPECT_FALSE(HotKeyFromText("ctrl + 9").control);
}

}  // namespace
}  // namespace velmar
