#include "tooling/script_outline.h"

namespace velmar {

namespace {

// Names of variables and named expressions: what stands between `[#` (or
// `[$`) and the closing bracket or, for an expression, the dot before its
// member. A name built from another reference is only known at run time.
bool IsNameByte(char c) {
  return c != ']' && c != '[' && c != '.' && c != '<' && c != '>' && !CodePage::IsSpace(c);
}

class LineReader {
 public:
  LineReader(ScriptOutline& out, const CodePage& cp, KeywordFlavor flavor)
      : out_(out), cp_(cp), flavor_(flavor) {}

  void Read(uint32_t number, std::string_view line) {
    std::size_t start = 0;
    while (start < line.size() && CodePage::IsSpace(line[start])) ++start;
    const std::string_view body = line.substr(start);
    if (body.empty() || body.substr(0, 2) == "//") return;
    const StatementSplit split = splitStatement(body, cp_, flavor_);
    if (split.id == stmt::kLabel) {
      const std::size_t close = cp_.FindByte(body, '>');
      const OutlineKind kind =
          split.text.rfind("<on_", 0) == 0 ? OutlineKind::kEventSection : OutlineKind::kLabel;
      Add(kind, split.text, number, start, start + close + 1, true);
      return;
    }
    // Where the argument text starts in the line.
    const std::size_t argAt = split.id == 0 ? start : ArgumentStart(line, start);
    const std::string_view arg = line.substr(std::min(argAt, line.size()));
    switch (split.id) {
      case stmt::kUsing: {
        const std::string_view name = CodePage::Trim(arg);
        if (!name.empty()) {
          const std::size_t at = argAt + (arg.size() - CodePage::TrimLeft(arg).size());
          Add(OutlineKind::kInclude, std::string(name), number, at, at + name.size(), false);
        }
        return;  // an include name holds no references
      }
      case stmt::kGoto:
      case stmt::kCall: {
        const std::string_view target = CodePage::TrimRight(arg);
        if (target.size() >= 3 && target.front() == '<' && target.back() == '>' &&
            target.find('[') == std::string_view::npos) {
          Add(OutlineKind::kLabel, cp_.Lower(target), number, argAt, argAt + target.size(), false);
        }
        break;
      }
      case stmt::kRegex:
      case stmt::kMatch:
      case stmt::kUnregex:
      case stmt::kTest: {
        std::size_t end = 0;
        while (end < arg.size() && !CodePage::IsSpace(arg[end])) ++end;
        const std::string_view name = arg.substr(0, end);
        if (!name.empty() && name.find('[') == std::string_view::npos) {
          Add(OutlineKind::kNamedExpression, cp_.Lower(name), number, argAt, argAt + end,
              split.id == stmt::kRegex);
        }
        // A pattern is not expanded: its brackets are no references.
        if (split.id == stmt::kRegex) return;
        break;
      }
      default:
        break;
    }
    References(number, line, argAt, split.id == stmt::kVar);
  }

 private:
  // Offset of the argument text: after the keyword and the blanks after it.
  std::size_t ArgumentStart(std::string_view line, std::size_t start) const {
    std::size_t pos = start;
    while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t') pos += cp_.CharLength(line, pos);
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    return pos;
  }

  void References(uint32_t number, std::string_view line, std::size_t from, bool assigns) {
    for (std::size_t pos = from; pos + 2 < line.size(); pos += cp_.CharLength(line, pos)) {
      if (line[pos] != '[' || (line[pos + 1] != '#' && line[pos + 1] != '$')) continue;
      const bool variable = line[pos + 1] == '#';
      const std::size_t nameAt = pos + 2;
      std::size_t end = nameAt;
      while (end < line.size() && IsNameByte(line[end])) end += cp_.CharLength(line, end);
      if (end == nameAt || end >= line.size()) continue;
      // `[#x]` is a variable; `[$name.count]` and `[$name.3]` use an expression.
      if (variable ? line[end] != ']' : line[end] != '.') continue;
      // `var [#x] ...` writes the variable it starts with.
      const bool definition = variable && assigns && pos == from;
      Add(variable ? OutlineKind::kVariable : OutlineKind::kNamedExpression,
          cp_.Lower(line.substr(nameAt, end - nameAt)), number, nameAt, end, definition);
    }
  }

  void Add(OutlineKind kind, std::string name, uint32_t line, std::size_t begin, std::size_t end,
           bool definition) {
    OutlineEntry e;
    e.kind = kind;
    e.name = std::move(name);
    e.line = line;
    e.begin = static_cast<uint32_t>(begin);
    e.end = static_cast<uint32_t>(end);
    e.definition = definition;
    out_.entries.push_back(std::move(e));
  }

  ScriptOutline& out_;
  const CodePage& cp_;
  KeywordFlavor flavor_;
};

}  // namespace

ScriptOutline OutlineScript(std::string_view text, const CodePage& cp, KeywordFlavor flavor) {
  ScriptOutline out;
  LineReader reader(out, cp, flavor);
  std::size_t pos = 0;
  uint32_t number = 0;
  while (pos < text.size()) {
    std::size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    std::string_view line = text.substr(pos, eol - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out.lines.emplace_back(line);
    reader.Read(number++, line);
    pos = eol + 1;
  }
  return out;
}

const OutlineEntry* EntryAt(const ScriptOutline& outline, uint32_t line, uint32_t offset) {
  for (const OutlineEntry& e : outline.entries) {
    if (e.line == line && e.begin <= offset && offset <= e.end) return &e;
    if (e.line > line) break;
  }
  return nullptr;
}

}  // namespace velmar
