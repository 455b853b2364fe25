#pragma once
// The boss key's text as the settings keep it: "CTRL + 9", "ALT + F",
// "CTRL + ALT + F". Ctrl is wanted when the text contains "CTRL", Alt when it
// contains "ALT", and the key is the text's last character, a letter A-Z or
// a digit 0-9 (the keys whose codes are those characters).

#include <string_view>

namespace velmar {

struct HotKeySpec {
  bool ctrl = false;
  bool alt = false;
  char key = 0;  // 'A'-'Z' or '0'-'9'; 0 when the text names no usable key
  bool valid() const { return key != 0; }
};

HotKeySpec ParseHotKey(std::string_view text);

}  // namespace velmar
