#include "ui/display_check.h"

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "ui/ui_texts.h"

namespace velmar {

namespace {

std::string_view Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string_view(value) : std::string_view();
}

bool CanOpenX11(const char* display) {
  Display* connection = XOpenDisplay(display);
  if (!connection) return false;
  XCloseDisplay(connection);
  return true;
}

}  // namespace

std::string MissingDisplayReason() {
  std::string_view platform = Env("QT_QPA_PLATFORM");
  // "xcb:wayland" style lists: the first entry decides what is tried first;
  // platforms that draw into memory or a remote viewer need no display.
  platform = platform.substr(0, platform.find(';'));
  if (platform == "offscreen" || platform == "minimal" || platform == "vnc" ||
      platform.rfind("vnc:", 0) == 0 || platform == "eglfs" || platform == "linuxfb") {
    return {};
  }
  const bool wantsWayland = platform.rfind("wayland", 0) == 0;
  const bool wantsX11 = platform.rfind("xcb", 0) == 0;
  if (!wantsX11 && !Env("WAYLAND_DISPLAY").empty()) return {};
  if (wantsWayland) {
    if (!Env("WAYLAND_DISPLAY").empty()) return {};
    return ui_text::kNoWaylandDisplay;
  }
  const std::string_view display = Env("DISPLAY");
  if (display.empty()) return ui_text::kNoDisplay;
  if (!CanOpenX11(nullptr)) return ui_text::kCannotOpenDisplay + std::string(display);
  return {};
}

void ExitUnlessDisplayAvailable(const char* programName) {
  const std::string reason = MissingDisplayReason();
  if (reason.empty()) return;
  std::fprintf(stderr, "%s: %s\n", programName, reason.c_str());
  std::exit(kNoDisplayExitStatus);
}

}  // namespace velmar
