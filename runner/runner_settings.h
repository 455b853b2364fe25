#pragma once
// The runner's keys of Config.ini (section "setting"): the tray tooltip, the
// support address of the tray menu and the global hot key.

#include <string>
#include <string_view>

#include "values/code_page.h"
#include "values/profile.h"

namespace velmar {

inline constexpr char kDefaultHomepage[] = "https://velmar.org/";
inline constexpr char kDefaultHotKey[] = "CTRL + 9";
// The tray's tip field holds 128 bytes with the terminating zero.
inline constexpr std::size_t kTrayTipBytes = 127;

struct RunnerSettings {
  std::string appName;
  std::string homepage = kDefaultHomepage;
  std::string hotKey = kDefaultHotKey;

  // Every value through the profile's 100-byte buffer.
  static RunnerSettings Read(const Profile& config);
};

// The tray tooltip for an application name: at most kTrayTipBytes bytes, cut
// before a character that would not fit, and without the broken character a
// 99-byte profile read may leave at the end.
std::string TrayTooltip(std::string_view appName, const CodePage& cp);

}  // namespace velmar
