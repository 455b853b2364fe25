#pragma once
// The manager's copy of Config.ini: the boss key, the tray flags and the
// network defaults handed to every script it adds, with the browser presets
// of the settings dialog and the rules by which the dialog writes back.

#include <map>
#include <string>

#include "values/profile.h"

namespace velmar {

class HttpClient;

inline constexpr char kDefaultHotKey[] = "CTRL + 9";
inline constexpr char kDefaultBrowser[] = "Internet Explorer 6.0";

// User agent of scripts when Config.ini names none.
std::string DefaultUserAgent();

// Preset name -> user agent, ordered by name as the settings list shows them.
const std::map<std::string, std::string>& BrowserPresets();

struct ManagerSettings {
  std::string hotKey = kDefaultHotKey;
  bool minimizeToTray = true;
  bool closeToTray = true;
  bool hideOnClose = false;  // closeto = "2"
  std::string browser = kDefaultBrowser;
  std::string userAgent = DefaultUserAgent();
  std::string language = "zh-cn";
  std::string proxyIp = "127.0.0.1";
  int proxyPort = 80;
  bool useProxy = false;
  int sendTimeout = 0;
  int recvTimeout = 0;
  bool useTimeouts = false;
  // Where recorded runs go (`tracefolder`); a relative path is taken from
  // the home folder.
  std::string traceFolder = "Trace";

  static ManagerSettings Read(const Profile& config);
  // What a script added now gets: the proxy and the time-outs only when they
  // are on, the user agent and the language always.
  void ApplyTo(HttpClient& http) const;
};

// What the settings dialog hands back on OK.
struct SettingsEdit {
  bool changeHotKey = false;  // "更改热键" selected
  std::string capturedHotKey;
  bool minimizeToTray = true;
  bool closeToTray = true;
  bool hideOnClose = false;
  // The run page's fields count only when the page was opened.
  bool runPageOpened = false;
  std::string browser;
  std::string language;
  std::string proxyIp;
  int proxyPort = 0;
  bool useProxy = false;
  int sendTimeout = 0;
  int recvTimeout = 0;
  bool useTimeouts = false;
};

// Writes the keys the edit changes; `current` is the boss key in use.
void WriteSettings(const Profile& config, const SettingsEdit& edit, const std::string& current);

// A captured key text worth saving: not empty, not only modifiers.
bool IsCompleteHotKey(const std::string& text);

}  // namespace velmar
