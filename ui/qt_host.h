#pragma once
// The host of the desktop programs: answers every script request on the UI
// thread with Qt widgets (message boxes, the input dialog, notes opened by
// the desktop, HTML script windows) while the requesting worker waits. No
// request blocks the UI thread or runs an event loop of its own: boxes and
// page calls complete their requests when they close or answer.

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "ui/ui_host_core.h"
#include "ui/ui_texts.h"

class QWebEngineProfile;

namespace velmar {

class CookieBridge;
class InputDialog;
class ScriptWindow;

class QtHost : public UiHostCore {
 public:
  // Caption of message boxes: "提示信息" in the manager, "提示窗口" in the
  // runner.
  static constexpr const char* kManagerCaption = ui_text::kManagerCaption;
  static constexpr const char* kRunnerCaption = ui_text::kRunnerCaption;
  // Longest wait for the scripts at program exit.
  static constexpr int kExitWaitMs = 5000;
  // Longest text a message box or the input dialog shows: laying out more
  // would hold the UI thread for seconds, and nobody reads it in a box.
  static constexpr std::size_t kMaxPromptBytes = 64 * 1024;

  // Create on the UI thread after QApplication. `profile` holds the script
  // windows' cookies and cache (the default profile when null).
  QtHost(const EngineEnvironment& environment, std::string alertCaption,
         QWebEngineProfile* profile = nullptr);
  ~QtHost() override;

  // How notes are opened (the desktop's application for text files unless
  // set); failures are not reported.
  void setFileOpener(std::function<void(const std::string& path)> opener);
  // Path of the note file of an instance: Temp/note_<id>.txt of the home.
  std::string notePath(int32_t id) const;

  // Where events of script windows, the tray and the hot key go.
  void sendWindowEvent(const std::string& source, const std::string& event,
                       const std::string& value);

  // UI thread: what is open now (for the programs and tests).
  std::vector<QMessageBox*> openAlerts() const;
  InputDialog* promptOf(ScriptInstance& instance) const;
  ScriptWindow* window(const std::string& name) const;
  // Null until the first script window started the browser engine.
  QWebEngineProfile* profile() const { return profile_; }
  // Closes and destroys every script window (program exit).
  void closeAllWindows();
  const std::string& alertCaption() const { return caption_; }

  // Called with every window event before it reaches the scripts.
  std::function<void(const WindowEvent&)> onWindowEvent;
  // Called when a script's error report opens (its run is ending on that
  // error), with the report's text.
  std::function<void(ScriptInstance*, const std::string&)> onScriptError;
  // Called with codes 2 to 5, 34 and 35 (the programs show them).
  std::function<void(ScriptInstance*, int32_t, const std::string&)> onText;

 protected:
  void showText(ScriptInstance* instance, int32_t code, const std::string& text) override;
  void openAlert(const std::shared_ptr<PendingRequest>& pending) override;
  void cancelRequest(const PendingRequest& pending) override;
  void openNote(ScriptInstance& instance, const std::string& text) override;
  void* openPrompt(ScriptInstance& instance, const std::string& text) override;
  void closePrompt(void* dialog) override;
  void windowRequest(const std::shared_ptr<PendingRequest>& pending) override;

 private:
  void OpenWindow(const std::string& text);
  void SetWindow(const std::string& text);
  void JsWindow(const std::shared_ptr<PendingRequest>& pending);
  const CodePage& cp() const { return *environment().codePage; }

  void StartWebEngine();

  std::string caption_;
  QWebEngineProfile* givenProfile_;
  QWebEngineProfile* profile_ = nullptr;
  std::unique_ptr<CookieBridge> cookies_;
  std::function<void(const std::string&)> opener_;
  // Posts processRequests to the UI thread; cleared (under its lock) before
  // the host goes, so a late wake-up posts nothing.
  std::mutex wakeMutex_;
  std::unique_ptr<QObject> waker_;
  std::map<const PendingRequest*, QPointer<QMessageBox>> alerts_;
  // The window table: name (case-sensitive) -> window, under its lock.
  mutable std::mutex windowTableLock_;
  std::map<std::string, std::unique_ptr<ScriptWindow>> windows_;
  // Page calls of `jswindow` waiting for their page, by request.
  std::map<const PendingRequest*, std::function<void()>> pageCalls_;
};

}  // namespace velmar
