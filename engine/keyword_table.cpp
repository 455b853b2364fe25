#include "engine/keyword_table.h"

#include <array>
#include <unordered_map>

namespace velmar {

namespace {

struct KeywordRow {
  std::string_view keyword;
  int32_t id;
  ArgumentMode mode;
};

using M = ArgumentMode;

// Ordered by id; the label id 23 has no keyword.
constexpr std::array<KeywordRow, 76> kKeywords{{
    {"if", 1, M::kExpanded},
    {"else", 2, M::kNone},
    {"while", 3, M::kRaw},
    {"eval", 4, M::kExpanded},
    {"var", 5, M::kRaw},
    {"return", 6, M::kNone},
    {"break", 7, M::kNone},
    {"switch", 8, M::kExpanded},
    {"prompt", 9, M::kExpanded},
    {"alert", 10, M::kExpanded},
    {"show", 11, M::kExpanded},
    {"left", 12, M::kExpanded},
    {"right", 13, M::kExpanded},
    {"state", 14, M::kExpanded},
    {"note", 15, M::kExpanded},
    {"regex", 16, M::kRaw},
    {"match", 17, M::kRaw},
    {"unregex", 18, M::kExpanded},
    {"test", 19, M::kExpanded},
    {"get", 20, M::kExpanded},
    {"post", 21, M::kExpanded},
    {"exit", 22, M::kNone},
    {"{", 24, M::kNone},
    {"}", 25, M::kNone},
    {"case", 26, M::kExpanded},
    {"default", 27, M::kNone},
    {"goto", 28, M::kExpanded},
    {"call", 29, M::kExpanded},
    {"js", 30, M::kExpanded},
    {"captcha", 31, M::kExpanded},
    {"saveto", 32, M::kExpanded},
    {"clear", 33, M::kNone},
    {"add", 34, M::kExpanded},
    {"addx", 35, M::kExpanded},
    {"uptext", 36, M::kExpanded},
    {"upfile", 37, M::kExpanded},
    {"upload", 38, M::kNone},
    {"new", 39, M::kNone},
    {"proxy", 40, M::kExpanded},
    {"timeout", 41, M::kExpanded},
    {"using", 42, M::kNone},
    {"pause", 43, M::kExpanded},
    {"openaccess", 44, M::kRaw},
    {"openmssql", 45, M::kRaw},
    {"openmysql", 46, M::kRaw},
    {"closedb", 47, M::kRaw},
    {"query", 48, M::kRaw},
    {"execute", 49, M::kRaw},
    {"srand", 50, M::kNone},
    {"replace", 51, M::kRaw},
    {"loaddll", 52, M::kRaw},
    {"unloaddll", 53, M::kExpanded},
    {"referer", 54, M::kExpanded},
    {"lan", 55, M::kExpanded},
    {"encoding", 56, M::kExpanded},
    {"imitate", 57, M::kExpanded},
    {"setcookies", 58, M::kRaw},
    {"delcookies", 59, M::kExpanded},
    {"clearcookies", 60, M::kNone},
    {"getcookies", 61, M::kRaw},
    {"resumecookies", 62, M::kExpanded},
    {"savecookies", 63, M::kExpanded},
    {"resumeiecookies", 64, M::kExpanded},
    {"saveiecookies", 65, M::kExpanded},
    {"openwindow", 66, M::kExpanded},
    {"setwindow", 67, M::kExpanded},
    {"showwindow", 68, M::kExpanded},
    {"hidewindow", 69, M::kExpanded},
    {"closewindow", 70, M::kExpanded},
    {"jswindow", 71, M::kRaw},
    {"minwindow", 72, M::kNone},
    {"maxwindow", 73, M::kNone},
    {"suspend", 74, M::kNone},
    {"resume", 75, M::kNone},
    {"showtray", 76, M::kNone},
    {"hidetray", 77, M::kNone},
}};

const KeywordRow* RowOf(int32_t id) {
  if (id <= 0 || id > stmt::kMaxId || id == stmt::kLabel) return nullptr;
  return &kKeywords[static_cast<std::size_t>(id < stmt::kLabel ? id - 1 : id - 2)];
}

}  // namespace

int32_t LookupKeyword(std::string_view lowerKeyword, KeywordFlavor flavor) {
  // Every script line is looked up once; a hash map keeps that cheap for
  // scripts of millions of lines.
  static const std::unordered_map<std::string_view, int32_t> kById = [] {
    std::unordered_map<std::string_view, int32_t> map;
    for (const KeywordRow& row : kKeywords) map.emplace(row.keyword, row.id);
    return map;
  }();
  if (lowerKeyword.empty() || lowerKeyword.size() > 15) return 0;
  const auto it = kById.find(lowerKeyword);
  if (it == kById.end()) return 0;
  const int32_t maxId = flavor == KeywordFlavor::kRunner ? stmt::kHideTray : stmt::kResume;
  return it->second <= maxId ? it->second : 0;
}

std::string_view KeywordOf(int32_t id) {
  const KeywordRow* row = RowOf(id);
  return row ? row->keyword : std::string_view();
}

int KeywordCount(KeywordFlavor flavor) {
  int n = 0;
  const int32_t maxId = flavor == KeywordFlavor::kRunner ? stmt::kHideTray : stmt::kResume;
  for (const KeywordRow& row : kKeywords) n += row.id <= maxId ? 1 : 0;
  return n;
}

ArgumentMode ArgumentModeOf(int32_t id) {
  const KeywordRow* row = RowOf(id);
  return row ? row->mode : ArgumentMode::kNone;
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
