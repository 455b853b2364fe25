#pragma once
// What every script of one host shares: the home folder (the program folder
// of the original design), its Config.ini, the active code page, the keyword
// flavour of the program and the JScript engine with its lock.

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "engine/keyword_table.h"
#include "ext/jscript_host.h"
#include "platform/stop_signal.h"
#include "values/code_page.h"
#include "values/profile.h"
#include "values/run_observer.h"

namespace velmar {

// The one JScript engine of a host. Every evaluation on it (the `js`
// statement, whichever thread answers it) holds the JScript lock: `busy`
// under `lock`, so that a stop reaches a script waiting for its turn as well
// as the one evaluating.
struct SharedJScript {
  std::mutex lock;
  std::condition_variable turn;
  bool busy = false;
  JScriptHost engine;
};

// Config.ini `jstimeout` (seconds, default 10) in milliseconds; zero or less
// means no limit.
int JsTimeLimitMs(const Profile& config);

// A script error as a person at a terminal or in the manager reads it, apart
// from the alert the script shows: where it happened and why, in English.
struct ScriptErrorReport {
  std::string file;   // as the user named it; empty when not known
  uint32_t line = 0;  // from 1; 0 when not known
  std::string what;   // the statement in short, in the script's code page
  std::string reason; // English
};

struct EngineEnvironment {
  std::filesystem::path home;
  Profile config;
  const CodePage* codePage = &CodePage::Get(CodePage::kUtf8);
  KeywordFlavor flavor = KeywordFlavor::kManager;
  // Config.ini `expandreceived=1`: text from outside is expanded again like
  // the script's own, as this system once did. Unsafe: any page, row or file
  // read can then run built-ins in the script.
  bool expandReceived = false;
  // Shared by copies of the environment: every program holds one engine for
  // all of its scripts, whichever host answers their requests.
  std::shared_ptr<SharedJScript> jscript = std::make_shared<SharedJScript>();
  // Where the libraries' diagnostics go (why a request failed, in the
  // system's own words, for the person running the scripts); the host sets
  // it. Called on the script's worker thread; unset, they are dropped. The
  // libraries never write to standard error themselves.
  std::function<void(int32_t scriptId, std::string_view text)> diagnostic;
  // Where every script error goes as well as to the alert, with its
  // position; called on the worker's thread before the alert is sent.
  std::function<void(int32_t scriptId, const ScriptErrorReport& report)> scriptError;
  // Watches every script of this environment that its host does not give
  // an observer of its own (ScriptContext::observer); null: nobody does.
  // Not owned; it must outlive the scripts.
  RunObserver* observer = nullptr;

  // Evaluates like the `js` statement under the JScript lock: true with the
  // result text, false with the engine's error text in `error`. With `stop`,
  // the evaluating script's stop request ends the wait for the lock (false,
  // `error` untouched) and the evaluation itself. An evaluation that ran is
  // told to `observer` (the evaluating script's), when given.
  bool EvaluateJs(const std::string& text, std::string& result, std::string* error = nullptr,
                  StopSignal* stop = nullptr, RunObserver* observer = nullptr) const;

  // Environment for a home folder: reads `codepage`, `jstimeout` and
  // `expandreceived` from its Config.ini.
  static EngineEnvironment ForHome(const std::filesystem::path& home,
                                   KeywordFlavor flavor = KeywordFlavor::kManager);
};

// The home folder: --home, else VELMAR_HOME, else the executable's folder
// when it holds Script/ or Config.ini (portable install), else
// $XDG_DATA_HOME/velmar (~/.local/share/velmar), created on first use.
std::filesystem::path ResolveHomeFolder(const std::string& explicitHome);

// A --home that names no folder is refused unless --create-home was given: a
// mistyped one would otherwise become a new, empty home, and scripts would
// run without their Config.ini and cookies. False after saying so on
// standard error as "PROGRAM: ...".
bool HomeOptionAccepted(const char* program, const std::string& explicitHome, bool createHome);

}  // namespace velmar
