#pragma once
// Every text the system shows a person about a script, in one place. They
// are written in UTF-8 here and reach the script's code page where they are
// shown (reportScriptError converts them). Scripts and people who know the
// system compare these texts byte for byte, so each stays exactly as it is,
// odd punctuation included.

#include <string>
#include <string_view>

namespace velmar::msg {

// The frame of every script error alert: prefix + '"' + what + '"' + CR LF +
// reason prefix + reason.
inline constexpr char kErrorPrefix[] = "出错：";
inline constexpr char kReasonPrefix[] = "原因：";

// The general complaint about a statement's or a function's argument text.
inline constexpr char kFormatError[] = "格式有误．";

// Control flow.
inline constexpr char kUndefinedSection[] = "使用了未定义的代码段名称．";
// Ends in an ASCII "!" where the other texts use a full-width stop.
inline constexpr char kGotoInEvent[] = "消息函数及其调用的函数中不能使用GOTO命令!";
inline constexpr char kResumeOutsideEvent[] = "RESUME命令只能在消息函数中使用!";

// A text past the expansion's size limit; other statements that could build
// such a text (`replace`) report it too.
inline constexpr char kExpansionTooLong[] = "引用展开后的文本超过64MB．";
// A write that would make one script's variables take more than their limit
// (see kMaxVariableBytes); the variable keeps its old value.
inline constexpr char kVariablesTooLarge[] = "变量占用的内存超过1GB．";

// Named regular expressions.
inline constexpr char kNoPattern[] = "格式有误．不含有效的正则表达式．";
// Follows the expression's name.
inline constexpr char kRegexMissingSuffix[] = " 正则表达式不存在．";
inline constexpr char kRegexIndexOutOfRange[] = "下标越界．";

// Databases.
// A row index past the rows of a query result. Unlike the regex text above
// it ends in an ASCII full stop: the two messages have always differed so,
// and scripts that look for the exact text depend on it.
inline constexpr char kQueryIndexOutOfRange[] = "下标越界.";
// "格式有误，请按" + the connection name + one of the two forms.
inline constexpr char kOpenFormatPrefix[] = "格式有误，请按";
// "catlog" is spelled so on purpose: the form has always shown it that way.
inline constexpr char kOpenMssqlForm[] = " server<<<catlog<<<username<<<password修改．";
inline constexpr char kOpenMysqlForm[] = " server:port<<<catlog<<<username<<<password修改．";
inline constexpr char kCloseDbNeedsName[] = "格式有误，后面需接数据库连接名．";
inline constexpr char kCloseDbUnknown[] = "该数据库连接不存在或已被删除．";
// Follows the connection name.
inline constexpr char kConnectionMissingSuffix[] = " 数据库连接不存在．";

// Request headers: a name that is no token, or a name or value holding CR,
// LF or NUL, which would end the header line early.
inline constexpr char kHeaderRefused[] = "格式有误．请求头的名称或值无效（不能含有回车、换行或空字符）．";
// A body file that cannot be read; follows the path.
inline constexpr char kBodyFileMissingSuffix[] = " 文件无法读取．";

// Native library calls.
// Ends in a full-width "！" where the others end in a full-width stop.
inline constexpr char kBracketMismatch[] = "格式有误．括号不匹配！";
// Follows the library name.
inline constexpr char kLibraryMissingSuffix[] = " DLL文件不存在．";
// Follows "library.function".
inline constexpr char kFunctionMissingSuffix[] = " DLL中不存在该函数名．";
inline constexpr char kUnloadUnknown[] = "释放了未定义的DLL．";

// The manager: a script past the number one program runs at once
// (kMaxRunningScripts) is not started.
inline constexpr char kTooManyRunningScripts[] = "同时运行的脚本不能超过1000个．";

// The reason of a script error for a person at a terminal or in the
// manager's details, in English; a reason this table does not know (an
// engine's own English text) is returned as it is.
inline std::string InEnglish(std::string_view reason) {
  struct Exact {
    const char* text;
    const char* english;
  };
  static constexpr Exact kExact[] = {
      {kFormatError, "wrong format"},
      {kUndefinedSection, "use of an undefined section name"},
      {kGotoInEvent, "goto cannot be used in event sections or in the sections they call"},
      {kResumeOutsideEvent, "resume can only be used in event sections"},
      {kExpansionTooLong, "the expanded text is longer than 64 MB"},
      {kVariablesTooLarge, "the script's variables would take more than 1 GB of memory"},
      {kNoPattern, "wrong format: no valid regular expression"},
      {kRegexIndexOutOfRange, "index out of range"},
      {kQueryIndexOutOfRange, "index out of range"},
      {kCloseDbNeedsName, "wrong format: the name of a database connection must follow"},
      {kCloseDbUnknown, "the database connection does not exist or was already closed"},
      {kBracketMismatch, "wrong format: the brackets do not match"},
      {kUnloadUnknown, "unloading a library that was never loaded"},
      {kHeaderRefused,
       "wrong format: a header name must be a token, and neither name nor value may hold CR, "
       "LF or NUL"},
  };
  for (const Exact& e : kExact) {
    if (reason == e.text) return e.english;
  }
  struct Suffix {
    const char* suffix;
    const char* before;
    const char* after;
  };
  static constexpr Suffix kSuffixes[] = {
      {kRegexMissingSuffix, "regular expression ", " does not exist"},
      {kConnectionMissingSuffix, "database connection ", " does not exist"},
      {kLibraryMissingSuffix, "library ", " does not exist"},
      {kFunctionMissingSuffix, "library function ", " does not exist"},
      {kBodyFileMissingSuffix, "body file ", " cannot be read"},
  };
  for (const Suffix& e : kSuffixes) {
    const std::string_view suffix(e.suffix);
    if (reason.size() > suffix.size() && reason.substr(reason.size() - suffix.size()) == suffix) {
      return e.before + std::string(reason.substr(0, reason.size() - suffix.size())) + e.after;
    }
  }
  const std::string_view prefix(kOpenFormatPrefix);
  constexpr std::string_view kChangeSuffix = "修改．";
  if (reason.substr(0, prefix.size()) == prefix) {
    std::string_view form = reason.substr(prefix.size());
    if (form.size() >= kChangeSuffix.size() &&
        form.substr(form.size() - kChangeSuffix.size()) == kChangeSuffix) {
      form.remove_suffix(kChangeSuffix.size());
    }
    return "wrong format; write it as: " + std::string(form);
  }
  return std::string(reason);
}

}  // namespace velmar::msg
