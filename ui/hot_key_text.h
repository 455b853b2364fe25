#pragma once
// The hot-key text of Config.ini ("CTRL + 9", "CTRL + ALT + F") as modifiers
// and a virtual-key code, and the one table that names the virtual-key
// codes and gives the X11 key symbol of each. Both programs read their keys
// this way (the manager's boss key, the runner's hot key), and the packer
// checks a package's key with it. No Qt and no X here: the command line
// links it too.

#include <cstdint>
#include <string_view>

namespace velmar {

struct HotKey {
  bool control = false;
  bool alt = false;
  // Virtual-key code: the last byte of the text, unchanged. 0 when the text
  // has none (an empty value), which registers nothing.
  uint8_t keyCode = 0;

  bool valid() const { return keyCode != 0; }
};

// Modifiers from "CTRL" and "ALT" anywhere in the text (upper case only);
// the key is the last byte, so "CTRL + a" is Control with 0x61, the numeric
// keypad's 1, and "CTRL + " is Control with 0x20, the space bar.
HotKey HotKeyFromText(std::string_view text);

struct KeyInfo {
  uint8_t keyCode;
  uint32_t x11KeySym;
  const char* name;
};

// The table entry of a virtual-key code, or nullptr for a code that names no
// key a global hot key can use (unassigned codes, mouse buttons, and the
// modifier keys themselves).
const KeyInfo* FindKey(uint8_t keyCode);

}  // namespace velmar
