#include "engine/engine_environment.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "platform/durable_file.h"
#include "platform/process_info.h"
#include "values/text_file_ops.h"

namespace velmar {

EngineEnvironment EngineEnvironment::ForHome(const std::filesystem::path& home,
                                             KeywordFlavor flavor) {
  EngineEnvironment env;
  env.home = home;
  env.config = Profile(home / "Config.ini");
  env.codePage = &CodePage::Get(static_cast<int>(env.config.GetInt("codepage", CodePage::kUtf8)));
  env.flavor = flavor;
  env.expandReceived = env.config.GetInt("expandreceived", 0) == 1;
  env.jscript->engine.setTimeLimitMs(JsTimeLimitMs(env.config));
  return env;
}

int JsTimeLimitMs(const Profile& config) {
  constexpr int kDefaultMs = 10000;
  const std::string limit = config.GetString("jstimeout");
  if (limit.empty()) return kDefaultMs;
  const long long seconds = LeadingInteger(limit);
  if (seconds <= 0) return 0;
  return seconds > INT32_MAX / 1000 ? INT32_MAX : static_cast<int>(seconds * 1000);
}

bool EngineEnvironment::EvaluateJs(const std::string& text, std::string& result, std::string* error,
                                   StopSignal* stop, RunObserver* observer) const {
  SharedJScript& js = *jscript;
  const auto started =
      observer ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point();
  auto stopped = [stop] { return stop && stop->requested(); };
  if (stop) {
    stop->SetAbortHook([&js] {
      { std::lock_guard<std::mutex> lock(js.lock); }
      js.turn.notify_all();
    });
  }
  bool owns = false;
  {
    std::unique_lock<std::mutex> lock(js.lock);
    js.turn.wait(lock, [&] { return !js.busy || stopped(); });
    if (!stopped()) js.busy = owns = true;
  }
  if (stop) stop->ClearAbortHook();
  if (!owns) return false;
  struct Release {
    SharedJScript& js;
    ~Release() {
      {
        std::lock_guard<std::mutex> lock(js.lock);
        js.busy = false;
      }
      js.turn.notify_all();
    }
  } release{js};
  // The engine reads the evaluating script's own stop request while it runs.
  const bool ok = js.engine.evalExpression(text, *codePage, result, stop);
  if (observer) {
    JsEvaluationReport report;
    report.code = text;
    report.failed = !ok;
    if (ok) {
      report.result = result;
    } else {
      report.error = js.engine.errorText();
    }
    report.elapsedNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now() - started)
                           .count();
    observer->JsEvaluated(report);
  }
  if (ok) return true;
  if (error) *error = js.engine.errorText();
  return false;
}

bool HomeOptionAccepted(const char* program, const std::string& explicitHome, bool createHome) {
  std::error_code ec;
  if (explicitHome.empty() || createHome || std::filesystem::is_directory(explicitHome, ec)) {
    return true;
  }
  std::fprintf(stderr, "%s: the home folder %s does not exist (give --create-home to make it)\n",
               program, explicitHome.c_str());
  return false;
}

std::filesystem::path ResolveHomeFolder(const std::string& explicitHome) {
  std::error_code ec;
  std::filesystem::path home;
  if (!explicitHome.empty()) {
    home = explicitHome;
  } else if (const char* env = std::getenv("VELMAR_HOME"); env && *env) {
    home = env;
  } else {
    const std::filesystem::path exeDir = platform::ExecutableFolder();
    if (!exeDir.empty() && (std::filesystem::is_directory(exeDir / "Script", ec) ||
                            std::filesystem::is_regular_file(exeDir / "Config.ini", ec))) {
      home = exeDir;
    } else if (const char* xdg = std::getenv("XDG_DATA_HOME");
               xdg && *xdg && std::filesystem::path(xdg).is_absolute()) {
      // Only an absolute XDG_DATA_HOME counts; a relative one is ignored.
      home = std::filesystem::path(xdg) / "velmar";
    } else if (const char* h = std::getenv("HOME"); h && *h) {
      home = std::filesystem::path(h) / ".local" / "share" / "velmar";
    } else {
      home = std::filesystem::current_path(ec) / "velmar";
    }
  }
  platform::CreatePrivateFolder(home);
  std::filesystem::path absolute = std::filesystem::absolute(home, ec);
  if (ec) absolute = home;
  absolute = absolute.lexically_normal();
  // Paths are built as home + "/Script/...": keep no trailing separator.
  if (!absolute.has_filename() && absolute.has_relative_path()) absolute = absolute.parent_path();
  return absolute;
}

}  // namespace velmar
