#include "manager/manager_settings.h"

#include <algorithm>
#include <climits>

#include "http/http_client.h"
#include "ui/product_info.h"
#include "values/text_file_ops.h"

namespace velmar {
namespace {

bool On(const std::string& value) {
  return value == "1";
}

int Number(const Profile& config, const char* key, const char* fallback) {
  const long long value = LeadingInteger(config.GetString(key, fallback));
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

}  // namespace

std::string DefaultUserAgent() {
  return std::string("Tamarind/1.4 (") + kProductSiteAddress + ")";
}

const std::map<std::string, std::string>& BrowserPresets() {
  static const std::map<std::string, std::string> presets = {
      {"Tamarind/1.3.1", std::string("Tamarind/1.3.1 (") + kProductSiteAddress + ") Velmar/1.3.1"},
      {"Internet Explorer 5.0", "Mozilla/4.0 (compatible; MSIE 5.0; Windows NT)"},
      {"Internet Explorer 6.0", "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT)"},
      {"Internet Explorer 7.0", "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT)"},
      {"Internet Explorer 8.0", "Mozilla/4.0 (compatible; MSIE 8.0; Windows NT)"},
      {"Firefox/3.0.1", "Mozilla/5.0 (Windows; U; Windows NT 5.2) Gecko/2008070208 Firefox/3.0.1"},
      {"Firefox/2.0.0.3",
       "Mozilla/5.0 (Windows; U; Windows NT 5.1) Gecko/20070309 Firefox/2.0.0.3"},
      {"Firefox/1.5.0.12",
       "Mozilla/5.0 (Windows; U; Windows NT 5.1) Gecko/20070803 Firefox/1.5.0.12"},
      {"Chrome/0.2.149.27",
       "Mozilla/5.0 (Windows; U; Windows NT 5.2) AppleWebKit/525.13 (KHTML, like Gecko) "
       "Chrome/0.2.149.27 Safari/525.13"},
      {"Opera/9.27", "Opera/9.27 (Windows NT 5.2; U; zh-cn)"},
      {"Opera/8.0", "Opera/8.0 (Macintosh; PPC Mac OS X; U; en)"},
      {"Safari/525.13",
       "Mozilla/5.0 (Windows; U; Windows NT 5.2) AppleWebKit/525.13 (KHTML, like Gecko) "
       "Version/3.1 Safari/525.13"},
      {"Safari/419.3",
       "Mozilla/5.0 (iPhone; U; CPU like Mac OS X) AppleWebKit/420.1 (KHTML, like Gecko) "
       "Version/3.0 Mobile/4A93 Safari/419.3"},
  };
  return presets;
}

ManagerSettings ManagerSettings::Read(const Profile& config) {
  ManagerSettings s;
  s.hotKey = config.GetString("hotkey", kDefaultHotKey);
  s.minimizeToTray = On(config.GetString("minitotray", "1"));
  const std::string closeTo = config.GetString("closeto", "1");
  s.closeToTray = On(closeTo);
  s.hideOnClose = closeTo == "2";
  s.browser = config.GetString("browser", kDefaultBrowser);
  s.userAgent = config.GetString("useragent", DefaultUserAgent());
  s.language = config.GetString("lan", "zh-cn");
  s.proxyIp = config.GetString("proxyip", "127.0.0.1");
  s.proxyPort = Number(config, "proxyport", "80");
  s.useProxy = On(config.GetString("useproxy", "0"));
  s.sendTimeout = Number(config, "sendtimeout", "0");
  s.recvTimeout = Number(config, "recvtimeout", "0");
  s.useTimeouts = On(config.GetString("settimeout", "0"));
  s.traceFolder = config.GetString("tracefolder", "Trace");
  if (s.traceFolder.empty()) s.traceFolder = "Trace";
  return s;
}

void ManagerSettings::ApplyTo(HttpClient& http) const {
  // A port outside 16 bits wraps as the original 16-bit field did.
  if (useProxy) http.SetProxy(proxyIp, static_cast<uint16_t>(proxyPort));
  if (useTimeouts) http.SetTimeouts(recvTimeout, sendTimeout);
  http.SetUserAgent(userAgent);
  http.SetAcceptLanguage(language);
}

bool IsCompleteHotKey(const std::string& text) {
  return !text.empty() && text.back() != ' ';
}

void WriteSettings(const Profile& config, const SettingsEdit& edit, const std::string& current) {
  if (edit.changeHotKey && IsCompleteHotKey(edit.capturedHotKey) &&
      edit.capturedHotKey != current) {
    config.WriteString("hotkey", edit.capturedHotKey);
  }
  config.WriteString("minitotray", edit.minimizeToTray ? "1" : "0");
  config.WriteString("closeto", edit.closeToTray ? "1" : (edit.hideOnClose ? "2" : "0"));
  if (!edit.runPageOpened) return;
  config.WriteString("browser", edit.browser);
  const auto& presets = BrowserPresets();
  const auto preset = presets.find(edit.browser);
  config.WriteString("useragent", preset != presets.end() ? preset->second : std::string());
  config.WriteString("lan", edit.language);
  config.WriteString("proxyip", edit.proxyIp);
  config.WriteString("proxyport", std::to_string(edit.proxyPort));
  config.WriteString("useproxy", edit.useProxy ? "1" : "0");
  config.WriteString("sendtimeout", std::to_string(edit.sendTimeout));
  config.WriteString("recvtimeout", std::to_string(edit.recvTimeout));
  config.WriteString("settimeout", edit.useTimeouts ? "1" : "0");
}

}  // namespace velmar
