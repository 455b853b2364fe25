#pragma once
// The statement vocabulary: for every keyword its statement id, what its
// handler receives and the handler itself, and how one source line is cut
// into keyword and argument text. The rows are in keyword_table.cpp; the
// code of any statement is one step from its row.

#include <cstdint>
#include <string>
#include <string_view>

#include "values/code_page.h"

namespace velmar {

struct ScriptContext;

// The manager does not know `showtray`/`hidetray`; the runner does.
enum class KeywordFlavor { kManager, kRunner };

namespace stmt {
constexpr int32_t kNone = 0;
constexpr int32_t kIf = 1, kElse = 2, kWhile = 3, kEval = 4, kVar = 5, kReturn = 6, kBreak = 7,
                  kSwitch = 8, kPrompt = 9, kAlert = 10, kShow = 11, kLeft = 12, kRight = 13,
                  kState = 14, kNote = 15, kRegex = 16, kMatch = 17, kUnregex = 18, kTest = 19,
                  kGet = 20, kPost = 21, kExit = 22, kLabel = 23, kBlockOpen = 24, kBlockClose = 25,
                  kCase = 26, kDefault = 27, kGoto = 28, kCall = 29, kJs = 30, kCaptcha = 31,
                  kSaveto = 32, kClear = 33, kAdd = 34, kAddx = 35, kUptext = 36, kUpfile = 37,
                  kUpload = 38, kNew = 39, kProxy = 40, kTimeout = 41, kUsing = 42, kPause = 43,
                  kOpenAccess = 44, kOpenMssql = 45, kOpenMysql = 46, kCloseDb = 47, kQuery = 48,
                  kExecute = 49, kSrand = 50, kReplace = 51, kLoadDll = 52, kUnloadDll = 53,
                  kReferer = 54, kLan = 55, kEncoding = 56, kImitate = 57, kSetCookies = 58,
                  kDelCookies = 59, kClearCookies = 60, kGetCookies = 61, kResumeCookies = 62,
                  kSaveCookies = 63, kResumeIeCookies = 64, kSaveIeCookies = 65, kOpenWindow = 66,
                  kSetWindow = 67, kShowWindow = 68, kHideWindow = 69, kCloseWindow = 70,
                  kJsWindow = 71, kMinWindow = 72, kMaxWindow = 73, kSuspend = 74, kResume = 75,
                  kShowTray = 76, kHideTray = 77, kHeader = 78, kDelHeader = 79, kBody = 80,
                  kBodyFile = 81, kPut = 82, kPatch = 83, kDelete = 84, kRedirect = 85,
                  kDecode = 86, kKeepAlive = 87, kSendUtf8 = 88;
constexpr int32_t kMaxId = 88;
}  // namespace stmt

// What the executor hands a statement's handler.
enum class ArgumentMode {
  kExpanded,  // ExpandAndEvaluate of a copy of the stored text
  kRaw,       // the stored text; the handler expands what it needs
  kNone,      // the text is not used
};

// Runs one statement with the text its argument mode gives it.
using StatementHandler = void (*)(ScriptContext& ctx, const std::string& text);

struct KeywordRow {
  std::string_view keyword;  // empty for id 0 and the label id
  int32_t id;
  ArgumentMode mode;
  // nullptr for the control statements, which the executor's own step runs
  // (blocks, loops, jumps, sleeps, suspending); never nullptr otherwise.
  StatementHandler handler;
};

// The row of an id; the row of id 0 (no keyword, no handler) for any id
// outside the table.
const KeywordRow& KeywordRowOf(int32_t id);

// Id of a lower-case keyword, or 0 when it is none.
int32_t LookupKeyword(std::string_view lowerKeyword, KeywordFlavor flavor);
// The keyword of an id, or an empty view.
inline std::string_view KeywordOf(int32_t id) {
  return KeywordRowOf(id).keyword;
}
inline ArgumentMode ArgumentModeOf(int32_t id) {
  return KeywordRowOf(id).mode;
}

// A statement that is accepted and does nothing (`new`, `minwindow`,
// `maxwindow`).
void ExecuteNoAction(ScriptContext& ctx, const std::string& text);

struct StatementSplit {
  int32_t id = 0;
  std::string text;
};

// Cuts a line (leading white space already removed) into statement id and
// argument text; id 23 with the lower-cased label for a label line.
StatementSplit splitStatement(std::string_view line, const CodePage& cp, KeywordFlavor flavor);

struct FirstWordSplit {
  std::string head;
  std::string tail;
  bool found = false;
};

// Splits a text at the first separator (or, with an empty separator, at the
// first space, else the first tab).
FirstWordSplit splitFirstWord(std::string_view text, std::string_view separator,
                              const CodePage& cp);

}  // namespace velmar
