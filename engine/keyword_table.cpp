#include "engine/keyword_table.h"

#include <array>
#include <unordered_map>

#include "engine/statement_handlers.h"

namespace velmar {

namespace {

using M = ArgumentMode;
constexpr StatementHandler kExecutorStep = nullptr;

// Indexed by id: one row per line of keywords.def.
constexpr std::array<KeywordRow, stmt::kMaxId + 1> kRows{{
#define VELMAR_STEP(keyword, Name, mode) {keyword, stmt::k##Name, M::k##mode, kExecutorStep},
#define VELMAR_HANDLER(keyword, Name, mode) {keyword, stmt::k##Name, M::k##mode, &Execute##Name},
#define VELMAR_HOST(keyword, Name, mode, code) \
  {keyword, stmt::k##Name, M::k##mode, &ForwardToHost<code>},
#define VELMAR_NO_ACTION(keyword, Name, mode) \
  {keyword, stmt::k##Name, M::k##mode, &ExecuteNoAction},
#include "engine/keywords.def"
#undef VELMAR_STEP
#undef VELMAR_HANDLER
#undef VELMAR_HOST
#undef VELMAR_NO_ACTION
}};

// A row out of place would hand a statement to another statement's handler.
constexpr bool RowsInStep() {
  for (std::size_t i = 0; i < kRows.size(); ++i) {
    if (kRows[i].id != static_cast<int32_t>(i)) return false;
    // The rows without a keyword (id 0, labels) are never dispatched.
    if (kRows[i].keyword.empty() && kRows[i].handler != kExecutorStep) return false;
  }
  return true;
}
static_assert(RowsInStep(), "keyword rows must be ordered by id, one row per id");

}  // namespace

const KeywordRow& KeywordRowOf(int32_t id) {
  if (id <= 0 || id > stmt::kMaxId) return kRows[0];
  return kRows[static_cast<std::size_t>(id)];
}

StatementResult ExecuteNoAction(ScriptContext&, const std::string&) {
  return StatementResult::Continue();
}

int32_t LookupKeyword(std::string_view lowerKeyword, KeywordFlavor flavor) {
  // Every script line is looked up once; a hash map keeps that cheap for
  // scripts of millions of lines.
  static const std::unordered_map<std::string_view, int32_t> kById = [] {
    std::unordered_map<std::string_view, int32_t> map;
    for (const KeywordRow& row : kRows) {
      if (!row.keyword.empty()) map.emplace(row.keyword, row.id);
    }
    return map;
  }();
  if (lowerKeyword.empty() || lowerKeyword.size() > 15) return 0;
  const auto it = kById.find(lowerKeyword);
  if (it == kById.end()) return 0;
  // Only the runner knows its two tray statements.
  const bool tray = it->second == stmt::kShowTray || it->second == stmt::kHideTray;
  return tray && flavor != KeywordFlavor::kRunner ? 0 : it->second;
}

StatementSplit splitStatement(std::string_view line, const CodePage& cp, KeywordFlavor flavor) {
  std::string_view keyword = line;
  std::string_view rest;
  std::size_t sep = cp.FindByte(line, ' ');
  if (sep == std::string_view::npos) sep = cp.FindByte(line, '\t');
  if (sep != std::string_view::npos) {
    keyword = line.substr(0, sep);
    rest = line.substr(sep + 1);
  }
  keyword = CodePage::Trim(keyword);
  rest = CodePage::TrimLeft(rest);
  std::string lower = cp.Lower(keyword);
  const int32_t id = LookupKeyword(lower, flavor);
  if (id == 0) {
    if (lower.size() >= 3 && lower.front() == '<' && lower.back() == '>') {
      return {stmt::kLabel, std::move(lower)};
    }
    return {0, std::string(rest)};
  }
  if (id == stmt::kEval || id == stmt::kShow || id == stmt::kRegex) return {id, std::string(rest)};
  return {id, std::string(CodePage::TrimRight(rest))};
}

FirstWordSplit splitFirstWord(std::string_view text, std::string_view separator,
                              const CodePage& cp) {
  std::size_t at;
  std::size_t sepLen = separator.size();
  if (!separator.empty()) {
    at = cp.Find(text, separator);
  } else {
    sepLen = 1;
    at = cp.FindByte(text, ' ');
    if (at == std::string_view::npos) at = cp.FindByte(text, '\t');
  }
  if (at == std::string_view::npos) {
    return {std::string(CodePage::TrimRight(text)), std::string(), false};
  }
  return {std::string(text.substr(0, at)),
          std::string(CodePage::TrimLeft(text.substr(at + sepLen))), true};
}

}  // namespace velmar
