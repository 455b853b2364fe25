#pragma once
// Small helpers for driving the engine from UTF-8 test texts.

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

struct Found {
  int start = 0;
  int end = 0;
  std::vector<std::string> groups;
};

// First match of pattern in text, or nothing; fails the test when the
// pattern does not compile.
inline std::optional<Found> Find(const std::string& pattern, const std::string& text) {
  RegExpProgram program;
  const std::u16string p = U16(pattern);
  if (Compile(program, std::u16string_view(p)) != 0) return std::nullopt;
  RegExpMatch m;
  const std::u16string t = U16(text);
  if (!Match(program, m, t)) return std::nullopt;
  Found f{m.matchStart, m.matchEnd, {}};
  for (int g = 0; g < program.groupCount; ++g) f.groups.push_back(U8(m.Group(t, g)));
  return f;
}

inline int CompileCode(const std::string& pattern) {
  RegExpProgram program;
  const std::u16string p = U16(pattern);
  return Compile(program, std::u16string_view(p));
}

// Whole matched text of the first match, or "<none>".
inline std::string Matched(const std::string& pattern, const std::string& text) {
  const auto f = Find(pattern, text);
  if (!f) return "<none>";
  const std::u16string t = U16(text);
  return U8(std::u16string_view(t).substr(f->start, f->end - f->start));
}

}  // namespace velmar::testing
