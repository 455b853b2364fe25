#include "runner/runner_core.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <system_error>

#include "engine/run_outcome.h"
#include "runner/runner_texts.h"
#include "values/text_file_ops.h"

namespace velmar {

void RunnerShell::note(const std::string& text) {
  std::fprintf(stderr, "vlmpack: %s\n", text.c_str());
}

RunnerCore::RunnerCore(ScriptHostBase& host, RunnerShell& shell, RunnerSettings settings)
    : host_(host), shell_(shell), settings_(std::move(settings)) {}

void RunnerCore::start() {
  const EngineEnvironment& env = host_.environment();
  const HotKey key = HotKeyFromText(settings_.hotKey);
  // A key that cannot be registered (taken, or no display) only means that
  // the scripts never see the hot-key event.
  if (key.valid()) hotKeyRegistered_ = shell_.registerHotKey(key);
  {
    std::lock_guard<std::mutex> lock(trayMutex_);
    tooltip_ = TrayTooltip(settings_.appName, *env.codePage);
    if (trayShown_) shell_.modifyTrayIcon(tooltip_);
  }

  started_ = 0;
  ended_ = 0;
  unreadable_ = 0;
  const std::filesystem::path bootPath = env.home / kBootFileName;
  const BootFile boot = ReadBootFile(bootPath, *env.codePage);
  if (!boot.opened) {
    shell_.note("cannot open the boot file " + bootPath.string());
  } else if (boot.entries.empty()) {
    shell_.note("the boot file " + bootPath.string() +
                " has no line of the form name^script^parameter");
  }
  if (boot.overlongLines > 0) {
    shell_.note(std::to_string(boot.overlongLines) + " line(s) of the boot file are longer than " +
                std::to_string(kMaxBootLineBytes) + " bytes and were skipped");
  }
  if (!boot.entries.empty()) {
    std::error_code ec;
    if (!std::filesystem::is_directory(env.home / "Script", ec)) {
      shell_.note("there is no Script folder in " + env.home.string());
    }
  }
  // Scripts past the limit are not even read: a boot file of a hundred
  // thousand lines would otherwise hold them all in memory.
  const std::size_t startable = std::min(boot.entries.size(), kMaxRunningScripts);
  for (std::size_t i = 0; i < startable; ++i) StartBootScript(boot.entries[i]);
  if (boot.entries.size() > startable) {
    shell_.note(std::to_string(boot.entries.size() - startable) +
                " script(s) of the boot file were not started: one program runs at most " +
                std::to_string(kMaxRunningScripts) + " scripts at once");
  }
  if (started_ == 0) {
    if (!boot.entries.empty()) shell_.note("no script of the boot file could be started");
    shell_.showMessage(runner_text::kBootFileMessage);
    quitProcedure(ExitStatusOf(RunOutcome::kUnreadable));
  }
}

void RunnerCore::StartBootScript(const BootEntry& entry) {
  const EngineEnvironment& env = host_.environment();
  const std::string path = env.home.string() + "/Script/" + entry.fileName;
  std::error_code ec;
  const std::string normalized = NormalizePath(path, *env.codePage);
  // Such a script still starts: its program is only the final `exit`.
  if (normalized.find('\0') != std::string::npos ||
      !std::filesystem::is_regular_file(normalized, ec)) {
    shell_.note("cannot read the script " + path + "; it ends at once");
    unreadable_ += 1;
  }
  ScriptInstance* instance = nullptr;
  try {
    instance = host_.startScript(entry.displayName, path, entry.param);
  } catch (const std::exception& e) {
    // Out of memory while reading it: this script is not started, the
    // others are.
    shell_.note("cannot start the script " + path + ": " + e.what());
    return;
  }
  started_ += 1;
  if (!host_.run(*instance)) {
    started_ -= 1;
    host_.discardUnstarted(*instance);
    shell_.note("cannot create the thread of the script " + path);
  }
}

bool RunnerCore::handleRunnerRequest(int32_t code) {
  if (code != REQ_SHOWTRAY && code != REQ_HIDETRAY) return false;
  std::lock_guard<std::mutex> lock(trayMutex_);
  if (code == REQ_SHOWTRAY) {
    if (trayShown_) {
      shell_.modifyTrayIcon(tooltip_);
    } else {
      shell_.addTrayIcon(tooltip_);
      trayShown_ = true;
    }
  } else if (trayShown_) {
    shell_.deleteTrayIcon();
    trayShown_ = false;
  }
  return true;
}

bool RunnerCore::trayShown() const {
  std::lock_guard<std::mutex> lock(trayMutex_);
  return trayShown_;
}

void RunnerCore::workerEnded() {
  shell_.post([this] { ScriptEnded(); });
}

void RunnerCore::ScriptEnded() {
  ended_ += 1;
  if (ended_ == started_) quitProcedure(0);
}

void RunnerCore::trayNotify(int32_t mouseMessage) {
  if (mouseMessage == kTrayLeftButtonUp) {
    host_.broadcastWindowEvent({"tray", "click", ""});
  } else if (mouseMessage == kTrayRightButtonUp) {
    shell_.showTrayMenu();
  }
}

void RunnerCore::trayMenuCommand(int32_t command) {
  // Neither show nor quit acts by itself: the scripts decide in
  // <on_tray_click_show> and <on_tray_click_quit>.
  switch (command) {
    case kTrayMenuShow:
      host_.broadcastWindowEvent({"tray", "click_show", ""});
      break;
    case kTrayMenuQuit:
      host_.broadcastWindowEvent({"tray", "click_quit", ""});
      break;
    case kTrayMenuSupport:
      shell_.openUrl(settings_.homepage);
      break;
    default:
      break;
  }
}

void RunnerCore::hotKeyPressed() {
  host_.broadcastWindowEvent({"system", "hotkey", ""});
}

bool RunnerCore::quitProcedure(int exitStatus) {
  if (quit_) return true;
  using Clock = std::chrono::steady_clock;
  constexpr int kSliceMs = 5;
  for (std::size_t row = host_.instanceCount(); row-- > 0;) {
    ScriptInstance* instance = host_.instanceAt(row);
    if (instance == nullptr || !instance->worker.alive()) continue;
    shell_.stopScript(host_, *instance);
    const auto deadline = Clock::now() + std::chrono::milliseconds(kQuitWaitMs);
    while (!instance->worker.waitFinished(kSliceMs)) {
      shell_.answerWaitingRequests();
      if (Clock::now() >= deadline) break;
    }
  }
  for (std::size_t row = 0; row < host_.instanceCount(); ++row) {
    ScriptInstance* instance = host_.instanceAt(row);
    if (instance != nullptr && instance->worker.alive()) {
      shell_.note("the script " + instance->path + " has not ended after " +
                  std::to_string(kQuitWaitMs / 1000) + " seconds; the runner keeps running");
      return false;
    }
  }
  quit_ = true;
  // The instances, their connections and the script windows go with the
  // host, which the program destroys as soon as its loop has ended.
  {
    std::lock_guard<std::mutex> lock(trayMutex_);
    if (trayShown_) shell_.deleteTrayIcon();
    trayShown_ = false;
  }
  if (hotKeyRegistered_) shell_.unregisterHotKey();
  hotKeyRegistered_ = false;
  shell_.quit(exitStatus);
  return true;
}

}  // namespace velmar
