#include "runner/runner_settings.h"

namespace velmar {

RunnerSettings RunnerSettings::Read(const Profile& config) {
  RunnerSettings settings;
  settings.appName = config.GetString("appname", "");
  settings.homepage = config.GetString("homepage", kDefaultHomepage);
  settings.hotKey = config.GetString("hotkey", kDefaultHotKey);
  return settings;
}

std::string TrayTooltip(std::string_view appName, const CodePage& cp) {
  std::size_t end = 0;
  while (end < appName.size()) {
    const std::size_t length = cp.CharLength(appName, end);
    if (end + length > kTrayTipBytes) break;
    end += length;
  }
  std::string tip(appName.substr(0, end));
  // CharLength reports each byte of a sequence cut short as a character of
  // its own; such bytes at the end are what is left of a cut character.
  while (!tip.empty()) {
    std::size_t last = 0;
    for (std::size_t pos = 0; pos < tip.size(); pos += cp.CharLength(tip, pos)) last = pos;
    const auto lead = static_cast<unsigned char>(tip[last]);
    if (last + 1 != tip.size() || lead < 0x80) break;
    tip.pop_back();
  }
  return tip;
}

}  // namespace velmar
