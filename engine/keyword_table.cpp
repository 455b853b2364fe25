#include "engine/keyword_table.h"

#include <array>
#include <unordered_map>

#include "data/db_statements.h"
#include "engine/host_requests.h"
#include "ext/native_statements.h"
#include "http/http_statements.h"
#include "regex/regex_statements.h"
#include "values/builtins.h"
#include "values/expansion.h"

namespace velmar {

namespace {

using M = ArgumentMode;
constexpr StatementHandler kExecutorStep = nullptr;

// Indexed by id. `test`, `get` and the other HTTP, form and cookie
// statements are in http/http_statements; the database statements in
// data/db_statements; `regex`, `match`, `unregex`, `replace` in
// regex/regex_statements; `loaddll`, `unloaddll` in ext/native_statements;
// `var` and `eval` in values/expansion; `srand` in values/builtins; the
// statements that only pass their text on to the host in
// engine/host_requests.
constexpr std::array<KeywordRow, stmt::kMaxId + 1> kRows{{
    {"", stmt::kNone, M::kNone, kExecutorStep},
    {"if", stmt::kIf, M::kExpanded, kExecutorStep},
    {"else", stmt::kElse, M::kNone, kExecutorStep},
    {"while", stmt::kWhile, M::kRaw, kExecutorStep},
    {"eval", stmt::kEval, M::kExpanded, &ExecuteEval},
    {"var", stmt::kVar, M::kRaw, &ExecuteVar},
    {"return", stmt::kReturn, M::kNone, kExecutorStep},
    {"break", stmt::kBreak, M::kNone, kExecutorStep},
    {"switch", stmt::kSwitch, M::kExpanded, kExecutorStep},
    {"prompt", stmt::kPrompt, M::kExpanded, &ForwardToHost<REQ_PROMPT>},
    {"alert", stmt::kAlert, M::kExpanded, &ForwardToHost<REQ_ALERT>},
    {"show", stmt::kShow, M::kExpanded, &ForwardToHost<REQ_SHOW>},
    {"left", stmt::kLeft, M::kExpanded, &ForwardToHost<REQ_LEFT>},
    {"right", stmt::kRight, M::kExpanded, &ForwardToHost<REQ_RIGHT>},
    {"state", stmt::kState, M::kExpanded, &ForwardToHost<REQ_STATE>},
    {"note", stmt::kNote, M::kExpanded, &ForwardToHost<REQ_NOTE>},
    {"regex", stmt::kRegex, M::kRaw, &ExecuteRegex},
    {"match", stmt::kMatch, M::kRaw, &ExecuteMatch},
    {"unregex", stmt::kUnregex, M::kExpanded, &ExecuteUnregex},
    {"test", stmt::kTest, M::kExpanded, &ExecuteTest},
    {"get", stmt::kGet, M::kExpanded, &ExecuteGet},
    {"post", stmt::kPost, M::kExpanded, &ExecutePost},
    {"exit", stmt::kExit, M::kNone, kExecutorStep},
    {"", stmt::kLabel, M::kNone, kExecutorStep},
    {"{", stmt::kBlockOpen, M::kNone, kExecutorStep},
    {"}", stmt::kBlockClose, M::kNone, kExecutorStep},
    {"case", stmt::kCase, M::kExpanded, kExecutorStep},
    {"default", stmt::kDefault, M::kNone, kExecutorStep},
    {"goto", stmt::kGoto, M::kExpanded, kExecutorStep},
    {"call", stmt::kCall, M::kExpanded, kExecutorStep},
    {"js", stmt::kJs, M::kExpanded, &ForwardToHost<REQ_JS>},
    {"captcha", stmt::kCaptcha, M::kExpanded, &ExecuteCaptcha},
    {"saveto", stmt::kSaveto, M::kExpanded, &ExecuteSaveto},
    {"clear", stmt::kClear, M::kNone, &ExecuteClear},
    {"add", stmt::kAdd, M::kExpanded, &ExecuteAdd},
    {"addx", stmt::kAddx, M::kExpanded, &ExecuteAddx},
    {"uptext", stmt::kUptext, M::kExpanded, &ExecuteUptext},
    {"upfile", stmt::kUpfile, M::kExpanded, &ExecuteUpfile},
    {"upload", stmt::kUpload, M::kNone, &ExecuteUpload},
    {"new", stmt::kNew, M::kNone, &ExecuteNoAction},
    {"proxy", stmt::kProxy, M::kExpanded, &ExecuteProxy},
    {"timeout", stmt::kTimeout, M::kExpanded, &ExecuteTimeout},
    {"using", stmt::kUsing, M::kNone, kExecutorStep},
    {"pause", stmt::kPause, M::kExpanded, kExecutorStep},
    {"openaccess", stmt::kOpenAccess, M::kRaw, &ExecuteOpenAccess},
    {"openmssql", stmt::kOpenMssql, M::kRaw, &ExecuteOpenMssql},
    {"openmysql", stmt::kOpenMysql, M::kRaw, &ExecuteOpenMysql},
    {"closedb", stmt::kCloseDb, M::kRaw, &ExecuteCloseDb},
    {"query", stmt::kQuery, M::kRaw, &ExecuteQuery},
    {"execute", stmt::kExecute, M::kRaw, &ExecuteExecute},
    {"srand", stmt::kSrand, M::kNone, &ExecuteSrand},
    {"replace", stmt::kReplace, M::kRaw, &ExecuteReplace},
    {"loaddll", stmt::kLoadDll, M::kRaw, &ExecuteLoadDll},
    {"unloaddll", stmt::kUnloadDll, M::kExpanded, &ExecuteUnloadDll},
    {"referer", stmt::kReferer, M::kExpanded, &ExecuteReferer},
    {"lan", stmt::kLan, M::kExpanded, &ExecuteLan},
    {"encoding", stmt::kEncoding, M::kExpanded, &ExecuteEncoding},
    {"imitate", stmt::kImitate, M::kExpanded, &ExecuteImitate},
    {"setcookies", stmt::kSetCookies, M::kRaw, &ExecuteSetCookies},
    {"delcookies", stmt::kDelCookies, M::kExpanded, &ExecuteDelCookies},
    {"clearcookies", stmt::kClearCookies, M::kNone, &ExecuteClearCookies},
    {"getcookies", stmt::kGetCookies, M::kRaw, &ExecuteGetCookies},
    {"resumecookies", stmt::kResumeCookies, M::kExpanded, &ExecuteResumeCookies},
    {"savecookies", stmt::kSaveCookies, M::kExpanded, &ExecuteSaveCookies},
    {"resumeiecookies", stmt::kResumeIeCookies, M::kExpanded, &ExecuteResumeIeCookies},
    {"saveiecookies", stmt::kSaveIeCookies, M::kExpanded, &ExecuteSaveIeCookies},
    {"openwindow", stmt::kOpenWindow, M::kExpanded, &ForwardToHost<REQ_OPENWINDOW>},
    {"setwindow", stmt::kSetWindow, M::kExpanded, &ForwardToHost<REQ_SETWINDOW>},
    {"showwindow", stmt::kShowWindow, M::kExpanded, &ForwardToHost<REQ_SHOWWINDOW>},
    {"hidewindow", stmt::kHideWindow, M::kExpanded, &ForwardToHost<REQ_HIDEWINDOW>},
    {"closewindow", stmt::kCloseWindow, M::kExpanded, &ForwardToHost<REQ_CLOSEWINDOW>},
    {"jswindow", stmt::kJsWindow, M::kRaw, &ExecuteJsWindow},
    {"minwindow", stmt::kMinWindow, M::kNone, &ExecuteNoAction},
    {"maxwindow", stmt::kMaxWindow, M::kNone, &ExecuteNoAction},
    {"suspend", stmt::kSuspend, M::kNone, kExecutorStep},
    {"resume", stmt::kResume, M::kNone, kExecutorStep},
    {"showtray", stmt::kShowTray, M::kNone, &ForwardToHost<REQ_SHOWTRAY>},
    {"hidetray", stmt::kHideTray, M::kNone, &ForwardToHost<REQ_HIDETRAY>},
    {"header", stmt::kHeader, M::kExpanded, &ExecuteHeader},
    {"delheader", stmt::kDelHeader, M::kExpanded, &ExecuteDelHeader},
    {"body", stmt::kBody, M::kExpanded, &ExecuteBody},
    {"bodyfile", stmt::kBodyFile, M::kExpanded, &ExecuteBodyFile},
    {"put", stmt::kPut, M::kExpanded, &ExecutePut},
    {"patch", stmt::kPatch, M::kExpanded, &ExecutePatch},
    {"delete", stmt::kDelete, M::kExpanded, &ExecuteDelete},
    {"redirect", stmt::kRedirect, M::kExpanded, &ExecuteRedirect},
    {"decode", stmt::kDecode, M::kExpanded, &ExecuteDecode},
    {"keepalive", stmt::kKeepAlive, M::kExpanded, &ExecuteKeepAlive},
    {"sendutf8", stmt::kSendUtf8, M::kExpanded, &ExecuteSendUtf8},
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

void ExecuteNoAction(ScriptContext&, const std::string&) {}

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
