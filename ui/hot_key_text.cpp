#include "ui/hot_key_text.h"

namespace velmar {

HotKeySpec ParseHotKey(std::string_view text) {
  HotKeySpec spec;
  spec.ctrl = text.find("CTRL") != std::string_view::npos;
  spec.alt = text.find("ALT") != std::string_view::npos;
  if (!text.empty()) {
    const char last = text.back();
    if ((last >= 'A' && last <= 'Z') || (last >= '0' && last <= '9')) spec.key = last;
  }
  return spec;
}

}  // namespace velmar
