#pragma once
// The size of the primary screen, for the hosts that have no window system
// of their own to ask.

namespace velmar::platform {

struct DisplaySize {
  int width = 0;
  int height = 0;
};

// Size of the default screen when a display is reachable; zeros otherwise.
// Needs no display library to be installed for the program to start.
DisplaySize QueryDisplaySize();

}  // namespace velmar::platform
