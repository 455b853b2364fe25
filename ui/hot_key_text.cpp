#include "ui/hot_key_text.h"

#include <array>

namespace velmar {

HotKey HotKeyFromText(std::string_view text) {
  HotKey key;
  key.control = text.find("CTRL") != std::string_view::npos;
  key.alt = text.find("ALT") != std::string_view::npos;
  if (!text.empty()) key.keyCode = static_cast<uint8_t>(text.back());
  return key;
}

namespace {

// Virtual-key codes with their X11 key symbols (the numbers of keysymdef.h
// and XF86keysym.h, so that this table needs no X headers). Letters map to
// the lower-case symbol: a grab is made on the key, and the key carries that
// symbol in its first column. The punctuation codes are those of a US
// keyboard's keys, as the codes are defined.
std::array<KeyInfo, 256> BuildKeyTable() {
  std::array<KeyInfo, 256> table{};
  auto set = [&](uint8_t code, uint32_t sym, const char* name) { table[code] = {code, sym, name}; };
  static constexpr const char* kDigits[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
  static constexpr const char* kLetters[] = {"A", "B", "C", "D", "E", "F", "G", "H", "I",
                                             "J", "K", "L", "M", "N", "O", "P", "Q", "R",
                                             "S", "T", "U", "V", "W", "X", "Y", "Z"};
  static constexpr const char* kPad[] = {"Num 0", "Num 1", "Num 2", "Num 3", "Num 4",
                                         "Num 5", "Num 6", "Num 7", "Num 8", "Num 9"};
  static constexpr const char* kF[] = {"F1",  "F2",  "F3",  "F4",  "F5",  "F6",  "F7",  "F8",
                                       "F9",  "F10", "F11", "F12", "F13", "F14", "F15", "F16",
                                       "F17", "F18", "F19", "F20", "F21", "F22", "F23", "F24"};
  for (int i = 0; i < 10; ++i) set(static_cast<uint8_t>(0x30 + i), 0x30 + i, kDigits[i]);
  for (int i = 0; i < 26; ++i) set(static_cast<uint8_t>(0x41 + i), 0x61 + i, kLetters[i]);
  for (int i = 0; i < 10; ++i) set(static_cast<uint8_t>(0x60 + i), 0xFFB0 + i, kPad[i]);
  for (int i = 0; i < 24; ++i) set(static_cast<uint8_t>(0x70 + i), 0xFFBE + i, kF[i]);
  set(0x03, 0xFF6B, "Break");         // XK_Break
  set(0x08, 0xFF08, "Backspace");     // XK_BackSpace
  set(0x09, 0xFF09, "Tab");           // XK_Tab
  set(0x0C, 0xFF0B, "Clear");         // XK_Clear
  set(0x0D, 0xFF0D, "Enter");         // XK_Return
  set(0x13, 0xFF13, "Pause");         // XK_Pause
  set(0x14, 0xFFE5, "Caps Lock");     // XK_Caps_Lock
  set(0x1B, 0xFF1B, "Esc");           // XK_Escape
  set(0x20, 0x0020, "Space");         // XK_space
  set(0x21, 0xFF55, "Page Up");       // XK_Prior
  set(0x22, 0xFF56, "Page Down");     // XK_Next
  set(0x23, 0xFF57, "End");           // XK_End
  set(0x24, 0xFF50, "Home");          // XK_Home
  set(0x25, 0xFF51, "Left");          // XK_Left
  set(0x26, 0xFF52, "Up");            // XK_Up
  set(0x27, 0xFF53, "Right");         // XK_Right
  set(0x28, 0xFF54, "Down");          // XK_Down
  set(0x29, 0xFF60, "Select");        // XK_Select
  set(0x2B, 0xFF62, "Execute");       // XK_Execute
  set(0x2C, 0xFF61, "Print");         // XK_Print (the Print Screen key)
  set(0x2D, 0xFF63, "Insert");        // XK_Insert
  set(0x2E, 0xFFFF, "Delete");        // XK_Delete
  set(0x2F, 0xFF6A, "Help");          // XK_Help
  set(0x5B, 0xFFEB, "Left Windows");  // XK_Super_L
  set(0x5C, 0xFFEC, "Right Windows"); // XK_Super_R
  set(0x5D, 0xFF67, "Menu");          // XK_Menu
  set(0x5F, 0x1008FF2F, "Sleep");     // XF86XK_Sleep
  set(0x6A, 0xFFAA, "Num *");         // XK_KP_Multiply
  set(0x6B, 0xFFAB, "Num +");         // XK_KP_Add
  set(0x6C, 0xFFAC, "Num Separator"); // XK_KP_Separator
  set(0x6D, 0xFFAD, "Num -");         // XK_KP_Subtract
  set(0x6E, 0xFFAE, "Num .");         // XK_KP_Decimal
  set(0x6F, 0xFFAF, "Num /");         // XK_KP_Divide
  set(0x90, 0xFF7F, "Num Lock");      // XK_Num_Lock
  set(0x91, 0xFF14, "Scroll Lock");   // XK_Scroll_Lock
  set(0xA6, 0x1008FF26, "Browser Back");       // XF86XK_Back
  set(0xA7, 0x1008FF27, "Browser Forward");    // XF86XK_Forward
  set(0xA8, 0x1008FF73, "Browser Refresh");    // XF86XK_Reload
  set(0xA9, 0x1008FF28, "Browser Stop");       // XF86XK_Stop
  set(0xAA, 0x1008FF1B, "Browser Search");     // XF86XK_Search
  set(0xAB, 0x1008FF30, "Browser Favorites");  // XF86XK_Favorites
  set(0xAC, 0x1008FF18, "Browser Home");       // XF86XK_HomePage
  set(0xAD, 0x1008FF12, "Volume Mute");        // XF86XK_AudioMute
  set(0xAE, 0x1008FF11, "Volume Down");        // XF86XK_AudioLowerVolume
  set(0xAF, 0x1008FF13, "Volume Up");          // XF86XK_AudioRaiseVolume
  set(0xB0, 0x1008FF17, "Next Track");         // XF86XK_AudioNext
  set(0xB1, 0x1008FF16, "Previous Track");     // XF86XK_AudioPrev
  set(0xB2, 0x1008FF15, "Stop Media");         // XF86XK_AudioStop
  set(0xB3, 0x1008FF14, "Play/Pause");         // XF86XK_AudioPlay
  set(0xB4, 0x1008FF19, "Mail");               // XF86XK_Mail
  set(0xB5, 0x1008FF32, "Media");              // XF86XK_AudioMedia
  set(0xB6, 0x1008FF33, "Application 1");      // XF86XK_MyComputer
  set(0xB7, 0x1008FF1D, "Application 2");      // XF86XK_Calculator
  set(0xBA, 0x003B, ";");             // XK_semicolon
  set(0xBB, 0x003D, "=");             // XK_equal (the = + key)
  set(0xBC, 0x002C, ",");             // XK_comma
  set(0xBD, 0x002D, "-");             // XK_minus
  set(0xBE, 0x002E, ".");             // XK_period
  set(0xBF, 0x002F, "/");             // XK_slash
  set(0xC0, 0x0060, "`");             // XK_grave
  set(0xDB, 0x005B, "[");             // XK_bracketleft
  set(0xDC, 0x005C, "\\");            // XK_backslash
  set(0xDD, 0x005D, "]");             // XK_bracketright
  set(0xDE, 0x0027, "'");             // XK_apostrophe
  set(0xE2, 0x003C, "<");             // XK_less (the extra key of ISO keyboards)
  return table;
}

}  // namespace

const KeyInfo* FindKey(uint8_t keyCode) {
  static const std::array<KeyInfo, 256> kTable = BuildKeyTable();
  const KeyInfo& info = kTable[keyCode];
  return info.name != nullptr ? &info : nullptr;
}

}  // namespace velmar
