#pragma once
// Script texts (bytes in the active code page) to and from Qt's strings.

#include <QString>
#include <string>
#include <string_view>

#include "values/code_page.h"

namespace velmar {

inline QString ToQString(std::string_view text, const CodePage& cp) {
  return QString::fromStdU16String(cp.ToUtf16(text));
}

inline std::string FromQString(const QString& text, const CodePage& cp) {
  return cp.FromUtf16(text.toStdU16String());
}

}  // namespace velmar
