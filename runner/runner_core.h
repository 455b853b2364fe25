#pragma once
// The packed runner without its windows: reads its settings and the boot
// file, starts the boot file's scripts at once, turns tray clicks, tray menu
// commands and the hot key into window events for the scripts, answers
// `showtray` and `hidetray`, and quits when the last script has ended.
//
// Everything the person sees goes through a RunnerShell, which the console
// program and the desktop program implement.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "engine/script_instance.h"
#include "runner/boot_file.h"
#include "ui/hot_key_text.h"
#include "runner/runner_settings.h"

namespace velmar {


// Mouse messages of the tray icon and the commands of its menu.
inline constexpr int32_t kTrayLeftButtonUp = 514;
inline constexpr int32_t kTrayRightButtonUp = 517;
inline constexpr int32_t kTrayMenuShow = 32816;
inline constexpr int32_t kTrayMenuQuit = 32817;
inline constexpr int32_t kTrayMenuSupport = 32772;
inline constexpr int32_t kRunnerHotKeyId = 40961;
// How long the quit procedure waits for each live worker.
inline constexpr int kQuitWaitMs = 6000;

class RunnerShell {
 public:
  virtual ~RunnerShell() = default;
  // Runs the task on the runner's thread after what that thread does now.
  // Any thread.
  virtual void post(std::function<void()> task) = 0;
  // Ends the runner's event loop with the exit status.
  virtual void quit(int exitStatus) = 0;
  // The runner's own message box (UTF-8 text); returns once it is closed.
  virtual void showMessage(const std::string& text) = 0;
  // A line for whoever started the program (standard error), UTF-8.
  virtual void note(const std::string& text);
  virtual void openUrl(const std::string& /*url*/) {}
  virtual void showTrayMenu() {}
  // Tooltip texts are in the scripts' code page. Called on the thread that
  // answers the scripts' requests.
  virtual void addTrayIcon(const std::string& /*tooltip*/) {}
  virtual void modifyTrayIcon(const std::string& /*tooltip*/) {}
  virtual void deleteTrayIcon() {}
  virtual bool registerHotKey(const HotKey& /*key*/) { return false; }
  // The stop of the quit procedure; a windowed shell also closes what the
  // script has open (its prompt).
  virtual void stopScript(ScriptHostBase& host, ScriptInstance& instance) { host.stop(instance); }
  virtual void unregisterHotKey() {}
  // Called every few milliseconds while the quit procedure waits for a
  // worker: a shell whose thread answers the scripts' requests answers the
  // waiting ones here, so that a script on its way out is not left waiting
  // for the thread that waits for it.
  virtual void answerWaitingRequests() {}
};

class RunnerCore {
 public:
  RunnerCore(ScriptHostBase& host, RunnerShell& shell, RunnerSettings settings);
  RunnerCore(const RunnerCore&) = delete;
  RunnerCore& operator=(const RunnerCore&) = delete;

  // On the runner's thread, before its event loop runs: registers the hot
  // key, prepares the tray icon, reads the boot file and starts its
  // scripts. A boot file that cannot be opened, has no usable line, or of
  // whose lines none could be started shows the boot-file message and quits
  // with the status of an unreadable script.
  void start();

  // The host calls these. handleRunnerRequest answers REQ_SHOWTRAY and
  // REQ_HIDETRAY (true) on the thread that answers requests; workerEnded
  // runs on the worker that has just ended.
  bool handleRunnerRequest(int32_t code);
  void workerEnded();

  // On the runner's thread: window events for every running script.
  void trayNotify(int32_t mouseMessage);
  void trayMenuCommand(int32_t command);
  void hotKeyPressed();

  // Stops every live worker, last first, waiting up to kQuitWaitMs for
  // each. When one is still alive it returns false and the runner goes on;
  // otherwise it removes the tray icon and the hot key and quits with the
  // status. On the runner's thread.
  bool quitProcedure(int exitStatus);

  const RunnerSettings& settings() const { return settings_; }
  const std::string& trayTooltip() const { return tooltip_; }
  bool trayShown() const;
  // On the runner's thread.
  int startedCount() const { return started_; }
  int endedCount() const { return ended_; }
  bool hotKeyRegistered() const { return hotKeyRegistered_; }
  // Boot-file scripts whose file could not be read (they still start and
  // end at once); on the runner's thread.
  int unreadableCount() const { return unreadable_; }

 private:
  void StartBootScript(const BootEntry& entry);
  void ScriptEnded();

  ScriptHostBase& host_;
  RunnerShell& shell_;
  const RunnerSettings settings_;
  std::string tooltip_;
  mutable std::mutex trayMutex_;
  bool trayShown_ = false;
  bool hotKeyRegistered_ = false;
  // Both only on the runner's thread.
  int started_ = 0;
  int ended_ = 0;
  int unreadable_ = 0;
  bool quit_ = false;
};

}  // namespace velmar
