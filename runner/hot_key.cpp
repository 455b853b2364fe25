#include "runner/hot_key.h"

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

// Virtual-key codes of the keys a hot key can use, with their X11 key
// symbols. Letters map to the lower-case symbol: a grab is made on the key,
// and the key carries that symbol in its first column.
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
  set(0x08, 0xFF08, "Backspace");
  set(0x09, 0xFF09, "Tab");
  set(0x0D, 0xFF0D, "Enter");
  set(0x13, 0xFF13, "Pause");
  set(0x1B, 0xFF1B, "Esc");
  set(0x20, 0x0020, "Space");
  set(0x21, 0xFF55, "Page Up");
  set(0x22, 0xFF56, "Page Down");
  set(0x23, 0xFF57, "End");
  set(0x24, 0xFF50, "Home");
  set(0x25, 0xFF51, "Left");
  set(0x26, 0xFF52, "Up");
  set(0x27, 0xFF53, "Right");
  set(0x28, 0xFF54, "Down");
  set(0x2C, 0xFF61, "Print");
  set(0x2D, 0xFF63, "Insert");
  set(0x2E, 0xFFFF, "Delete");
  set(0x6A, 0xFFAA, "Num *");
  set(0x6B, 0xFFAB, "Num +");
  set(0x6D, 0xFFAD, "Num -");
  set(0x6E, 0xFFAE, "Num .");
  set(0x6F, 0xFFAF, "Num /");
  return table;
}

}  // namespace

const KeyInfo* FindKey(uint8_t keyCode) {
  static const std::array<KeyInfo, 256> kTable = BuildKeyTable();
  const KeyInfo& info = kTable[keyCode];
  return info.name != nullptr ? &info : nullptr;
}

}  // namespace velmar
