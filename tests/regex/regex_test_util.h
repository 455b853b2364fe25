#pragma once
// Drives the engine from UTF-8 test texts.

#include <optional>
#include <string>
#include <vector>

#include "regex/reg_exp.h"
#include "values/code_page.h"

namespace velmar::testing {

inline std::u16string U16(const std::string& utf8) {
  return CodePage::Get(CodePage::kUtf8).ToUtf16(utf8);
}
inline std::string U8(std::u16string_view text) {
  return CodePage::Get(CodePage::kUtf8).FromUtf16(text);
}
inline int CompileCode(const std::string& pattern) {
  RegExpProgram program;
  return static_cast<int>(Compile(program, std::u16string_view(U16(pattern))));
}

struct Found {
  int start = 0;
  int end = 0;
  std::vector<std::string> groups;
};

// First match, or nothing (also when the pattern does not compile).
inline std::optional<Found> Find(const std::string& pattern, const std::string& text) {
  RegExpProgram program;
  RegExpMatch m;
  const std::u16string t = U16(text);
  if (Compile(program, std::u16string_view(U16(pattern))) != RegExpError::kNone ||
      !Match(program, m, t)) {
    return std::nullopt;
  }
  Found f{m.matchStart, m.matchEnd, {}};
  for (int g = 0; g < program.groupCount; ++g) f.groups.push_back(U8(m.Group(t, g)));
  return f;
}

// Text of the first match, or "<none>".
inline std::string Matched(const std::string& pattern, const std::string& text) {
  const auto f = Find(pattern, text);
  return f ? U8(std::u16string_view(U16(text)).substr(f->start, f->end - f->start)) : "<none>";
}

}  // namespace velmar::testing
