#include "engine/statements/builtins.h"

#include <algorithm>
#include <climits>
#include <ctime>
#include <filesystem>
#include <limits>
#include <vector>

#include "engine/executor.h"
#include "engine/host_requests.h"
#include "engine/script_context.h"
#include "engine/statements/http_statements.h"
#include "http/body_decoder.h"
#include "http/http_client.h"
#include "values/messages.h"
#include "values/text_file_ops.h"
#include "values/text_limits.h"
#include "values/web_text.h"

namespace velmar {

namespace {

thread_local uint32_t randomState = 1;

// The received spans of the arguments of the call in progress on this
// thread (nullptr when none is received), for `split`, whose pieces become
// variables that keep the mark.
thread_local const std::vector<ReceivedSpans>* tArgumentSpans = nullptr;

// Files named by a relative path live in the home folder, the program folder
// that scripts of this system have always written relative paths into. A
// `\` that is the trail byte of a double-byte character stays as it is.
std::string ResolvePath(ScriptContext& ctx, std::string_view path) {
  std::string normal = NormalizePath(path, ctx.codePage());
  if (normal.empty() || normal.front() == '/') return normal;
  return (ctx.env->home / normal).string();
}

// Replaces every occurrence of `from` (non-empty) left to right, without
// rescanning inserted text.
std::string ReplaceEvery(const CodePage& cp, std::string_view text, std::string_view from,
                         std::string_view to) {
  std::string out;
  std::size_t pos = 0;
  for (std::size_t hit; (hit = cp.Find(text, from, pos)) != std::string_view::npos;) {
    out.append(text, pos, hit - pos);
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text, pos, std::string_view::npos);
  return out;
}

int32_t ToInt32(std::string_view text) {
  return static_cast<int32_t>(std::clamp<long long>(LeadingInteger(text), INT32_MIN, INT32_MAX));
}

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

std::string Substring(const std::vector<std::string>& args) {
  const std::string& text = args[1];
  const long long size = static_cast<long long>(text.size());
  const long long writtenStart = LeadingInteger(args[2]);
  // Without a length the rest counts from the start as written; a start far
  // below zero would overflow the subtraction, and every length from the
  // text's size on means the same.
  long long length = size;
  if (args.size() >= 4) {
    length = LeadingInteger(args[3]);
  } else if (__builtin_sub_overflow(size, writtenStart, &length)) {
    length = LLONG_MAX;
  }
  const long long start = std::max(writtenStart, 0LL);
  length = std::max(length, 0LL);
  if (start >= size) return {};
  length = std::min(length, size - start);
  return text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(length));
}

std::string Rand(const std::vector<std::string>& args) {
  int32_t low = 0;
  int32_t high = 0;
  if (args.size() == 2) {
    high = ToInt32(args[1]);
  } else {
    low = ToInt32(args[1]);
    high = ToInt32(args[2]);
  }
  // 64-bit arithmetic keeps wide ranges inside minimum..maximum; for ranges
  // that fit in 32 bits the result is the same as in 32-bit arithmetic.
  const int64_t step = DrawRandom() % 1001;
  const int64_t value = low + step * (static_cast<int64_t>(high) - low) / 1000;
  return std::to_string(value);
}

std::string FormatTime(const CodePage& cp, const std::vector<std::string>& args) {
  const std::tm t = LocalNow();
  const int year = t.tm_year + 1900;
  const int month = t.tm_mon + 1;
  if (args.size() < 2) {
    return std::to_string(year) + '-' + std::to_string(month) + '-' + std::to_string(t.tm_mday) +
           ' ' + std::to_string(t.tm_hour) + ':' + std::to_string(t.tm_min) + ':' +
           std::to_string(t.tm_sec);
  }
  std::string out = args[1];
  const std::pair<std::string_view, int> fields[] = {{"%y", year},      {"%m", month},
                                                     {"%d", t.tm_mday}, {"%H", t.tm_hour},
                                                     {"%M", t.tm_min},  {"%S", t.tm_sec}};
  for (const auto& [code, value] : fields) out = ReplaceEvery(cp, out, code, std::to_string(value));
  return out;
}

using Args = std::vector<std::string>;

std::string Len(ScriptContext&, const Args& args) {
  return std::to_string(args[1].size());
}

std::string IsNull(ScriptContext&, const Args& args) {
  return args[1].empty() ? "1" : "0";
}

std::string WriteFile(ScriptContext& ctx, const Args& args) {
  const std::string_view mode = args.size() >= 4 ? std::string_view(args[3]) : "a";
  if (WriteTextFile(ResolvePath(ctx, args[1]), args[2], mode, ctx.codePage())) return "1";
  // The file is as it was; why it could not be written goes to the host.
  if (ctx.env->diagnostic && !LastWriteFailure().empty()) {
    ctx.env->diagnostic(ctx.id, LastWriteFailure());
  }
  return "0";
}

std::string ReadFile(ScriptContext& ctx, const Args& args) {
  const CodePage& cp = ctx.codePage();
  const std::string path = ResolvePath(ctx, args[1]);
  if (args.size() == 2) return ReadTextFile(path, cp);
  if (args[2] == "0") return std::to_string(CountTextLines(path, cp));
  return ReadTextLine(path, LeadingInteger(args[2]), cp);
}

std::string IndexOf(ScriptContext& ctx, const Args& args) {
  const std::size_t at = ctx.codePage().Find(args[1], args[2]);
  return at == std::string_view::npos ? "-1" : std::to_string(at);
}

std::string LastIndexOf(ScriptContext& ctx, const Args& args) {
  if (args[2].empty()) return std::to_string(args[1].size());
  const std::size_t at = ctx.codePage().FindLastByte(args[1], args[2][0]);
  return at == std::string_view::npos ? "-1" : std::to_string(at);
}

std::string Replace(ScriptContext& ctx, const Args& args) {
  if (args[2].empty()) return args[1];
  return ReplaceEvery(ctx.codePage(), args[1], args[2],
                      args.size() >= 4 ? std::string_view(args[3]) : "");
}

// The pieces of SplitText become _0, _1, ...: a huge text gives millions of
// them, so they are kept as one text (see SplitPieces) and a stop request
// ends the work between two pieces, storing those found.
std::string Split(ScriptContext& ctx, const Args& args) {
  const std::string_view text = args[1];
  const std::string_view separator = args[2];
  const CodePage& cp = ctx.codePage();
  if (text.size() > UINT32_MAX) {
    ctx.RaiseError("split", msg::kExpansionTooLong);
    return "0";
  }
  const ReceivedSpans* textSpans =
      tArgumentSpans && !(*tArgumentSpans)[1].empty() ? &(*tArgumentSpans)[1] : nullptr;
  SplitPieces pieces;
  pieces.text.reserve(text.size());
  auto store = [&](std::size_t pos, std::size_t len) {
    if (textSpans) AppendSlice(pieces.spans, *textSpans, pos, len, pieces.text.size());
    pieces.Add(text.substr(pos, len));
  };
  std::size_t pos = 0;
  bool stopped = false;
  if (!separator.empty()) {
    for (;;) {
      if (ctx.stop.requested()) {
        stopped = true;
        break;
      }
      const std::size_t hit = cp.Find(text, separator, pos);
      if (hit == std::string_view::npos) break;
      store(pos, hit - pos);
      pos = hit + separator.size();
    }
  }
  if (!stopped) store(pos, text.size() - pos);
  const std::size_t count = pieces.count();
  if (count == 0) return "0";
  if (!ctx.variables.StorePieces(std::move(pieces))) {
    ctx.RaiseError("split", msg::kVariablesTooLarge);
    return "0";
  }
  return std::to_string(count);
}

std::string Compare(ScriptContext&, const Args& args) {
  return args[1] == args[2] ? "1" : "0";
}

std::string Substr(ScriptContext&, const Args& args) {
  return Substring(args);
}

std::string LongTime(ScriptContext&, const Args&) {
  std::tm local = LocalNow();
  return std::to_string(static_cast<long long>(std::mktime(&local)));
}

std::string Time(ScriptContext& ctx, const Args& args) {
  return FormatTime(ctx.codePage(), args);
}

std::string UrlEncodeText(ScriptContext& ctx, const Args& args) {
  // Under `sendutf8` the value is encoded as the UTF-8 site expects it.
  if (ctx.http.sendUtf8()) return UrlEncode(ctx.codePage().ToUtf8(args[1]));
  return UrlEncode(args[1]);
}

// The text a web built-in works on. "#name" names a variable whose value is
// taken as it is: a JSON document, a page or a compressed body holds `[` and
// `]`, which would end a reference early if the value were written in as
// `[#name]`.
// A value read that way that came from outside makes the result received
// text, as an argument written in would (see CallBuiltinMarked).
thread_local bool tWebTextReceived = false;

std::string_view WebText(ScriptContext& ctx, const std::string& arg) {
  if (arg.size() > 1 && arg[0] == '#') {
    if (const std::string* value = ctx.variables.Find(std::string_view(arg).substr(1))) {
      const ReceivedSpans* received = ctx.variables.ReceivedOf(value);
      if (received && !received->empty()) tWebTextReceived = true;
      return *value;
    }
  }
  return arg;
}

std::string JsonValueOf(ScriptContext& ctx, const Args& args) {
  return JsonValue(WebText(ctx, args[1]), args.size() > 2 ? args[2] : "", ctx.codePage())
      .value_or("");
}

std::string JsonCountOf(ScriptContext& ctx, const Args& args) {
  return std::to_string(
      JsonCount(WebText(ctx, args[1]), args.size() > 2 ? args[2] : "", ctx.codePage()).value_or(0));
}

std::string JsonEscapeText(ScriptContext& ctx, const Args& args) {
  return JsonEscape(WebText(ctx, args[1]), ctx.codePage());
}

std::string HtmlDecodeText(ScriptContext& ctx, const Args& args) {
  return HtmlDecode(WebText(ctx, args[1]), ctx.codePage());
}

std::string HtmlEncodeText(ScriptContext& ctx, const Args& args) {
  return HtmlEncode(WebText(ctx, args[1]));
}

// No larger than any script text may grow, so a small bomb of a text ends
// at that size.
std::string GunzipText(ScriptContext& ctx, const Args& args) {
  std::string out;
  return Gunzip(WebText(ctx, args[1]), out, kMaxExpandedTextSize) ? out : std::string();
}

std::string LowerCase(ScriptContext& ctx, const Args& args) {
  return ctx.codePage().Lower(args[1]);
}

std::string UpperCase(ScriptContext& ctx, const Args& args) {
  return ctx.codePage().Upper(args[1]);
}

std::string Random(ScriptContext&, const Args& args) {
  return Rand(args);
}

std::string UserPath(ScriptContext& ctx, const Args&) {
  std::string home = ctx.env->home.string();
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  return home;
}

std::string RobotId(ScriptContext& ctx, const Args&) {
  return std::to_string(ctx.id);
}

ScreenSize HostScreen(ScriptContext& ctx) {
  return ctx.host ? ctx.host->screenSize() : ScreenSize{};
}

std::string ScreenWidth(ScriptContext& ctx, const Args&) {
  return std::to_string(HostScreen(ctx).width);
}

std::string ScreenHeight(ScriptContext& ctx, const Args&) {
  return std::to_string(HostScreen(ctx).height);
}

// The text after the name, as written: CallBuiltinMarked hands it back as
// the script's own, so the next pass expands the references in it.
std::string Expand(ScriptContext&, const Args& args) {
  std::string text = args[1];
  for (std::size_t i = 2; i < args.size(); ++i) {
    text += "<<<";
    text += args[i];
  }
  return text;
}

using BuiltinFunction = std::string (*)(ScriptContext& ctx, const Args& args);

// "Count" is the number of list elements, the name included: a call with
// two arguments has count 3.
constexpr std::size_t kAnyCount = std::numeric_limits<std::size_t>::max();

struct BuiltinRow {
  std::string_view name;
  std::size_t minCount;
  std::size_t maxCount;
  std::string_view fallback;  // the result outside the counts
  BuiltinFunction function;
};

// Names are tried in this order.
constexpr BuiltinRow kBuiltins[] = {
    {"len", 2, kAnyCount, "0", &Len},
    {"isnull", 2, kAnyCount, "1", &IsNull},
    {"writefile", 3, kAnyCount, "0", &WriteFile},
    {"readfile", 2, 3, "", &ReadFile},
    {"indexof", 3, kAnyCount, "-1", &IndexOf},
    {"lastindexof", 3, kAnyCount, "-1", &LastIndexOf},
    {"replace", 3, kAnyCount, "", &Replace},
    {"split", 3, kAnyCount, "0", &Split},
    {"compare", 3, kAnyCount, "0", &Compare},
    {"substr", 3, kAnyCount, "", &Substr},
    {"longtime", 0, kAnyCount, "", &LongTime},
    {"time", 0, kAnyCount, "", &Time},
    {"urlencode", 2, kAnyCount, "", &UrlEncodeText},
    {"lcase", 2, kAnyCount, "", &LowerCase},
    {"ucase", 2, kAnyCount, "", &UpperCase},
    {"rand", 2, kAnyCount, "0", &Random},
    {"userpath", 0, kAnyCount, "", &UserPath},
    {"robotid", 0, kAnyCount, "", &RobotId},
    {"screenwidth", 0, kAnyCount, "", &ScreenWidth},
    {"screenheight", 0, kAnyCount, "", &ScreenHeight},
    {"json", 2, 3, "", &JsonValueOf},
    {"jsoncount", 2, 3, "0", &JsonCountOf},
    {"jsonescape", 2, kAnyCount, "", &JsonEscapeText},
    {"htmldecode", 2, kAnyCount, "", &HtmlDecodeText},
    {"htmlencode", 2, kAnyCount, "", &HtmlEncodeText},
    {"gunzip", 2, kAnyCount, "", &GunzipText},
    {"expand", 2, kAnyCount, "", &Expand},
};

}  // namespace

int DrawRandom() {
  randomState = randomState * 214013u + 2531011u;
  return static_cast<int>((randomState >> 16) & 0x7FFF);
}

void SeedRandom(uint32_t seed) {
  randomState = seed;
}

std::string CallBuiltin(ScriptContext& ctx, std::string_view namePart) {
  ReceivedSpans resultSpans;
  return CallBuiltinMarked(ctx, namePart, {}, resultSpans);
}

std::string CallBuiltinMarked(ScriptContext& ctx, std::string_view namePart,
                              const ReceivedSpans& nameSpans, ReceivedSpans& resultSpans) {
  const CodePage& cp = ctx.codePage();
  resultSpans.clear();
  MarkedPieces marked;
  if (nameSpans.empty()) {
    marked.pieces = SplitText(namePart, "<<<", cp);
  } else {
    marked = SplitMarkedText(namePart, nameSpans, "<<<", cp);
  }
  const Args& args = marked.pieces;
  const std::string name = cp.Lower(CodePage::Trim(args[0]));
  for (const BuiltinRow& row : kBuiltins) {
    if (row.name != name) continue;
    // Outside its counts a function reports the format error and yields its
    // fallback value; the statement in progress still completes.
    if (args.size() < row.minCount || args.size() > row.maxCount) {
      ctx.RaiseError(std::string(namePart), msg::kFormatError);
      return std::string(row.fallback);
    }
    bool receivedArgument = false;
    for (std::size_t i = 1; i < marked.spans.size(); ++i) receivedArgument |= !marked.spans[i].empty();
    const std::vector<ReceivedSpans>* outer = tArgumentSpans;
    tArgumentSpans = receivedArgument ? &marked.spans : nullptr;
    const bool outerWebText = tWebTextReceived;
    tWebTextReceived = false;
    std::string result = row.function(ctx, args);
    receivedArgument |= tWebTextReceived;
    tWebTextReceived = outerWebText;
    tArgumentSpans = outer;
    // A result made from received text is received text; a file's content
    // always is, whoever wrote it. A line count is a number of ours.
    const bool fileContent = row.function == &ReadFile && !(args.size() == 3 && args[2] == "0");
    if ((receivedArgument || fileContent) && row.function != &Expand) {
      resultSpans = WholeSpan(result.size());
    }
    return result;
  }
  return {};
}

bool BuiltinCounts(std::string_view lowerName, std::size_t& minCount, std::size_t& maxCount) {
  for (const BuiltinRow& row : kBuiltins) {
    if (row.name != lowerName) continue;
    minCount = row.minCount;
    maxCount = row.maxCount;
    return true;
  }
  return false;
}

std::vector<std::string_view> BuiltinNames() {
  std::vector<std::string_view> names;
  for (const BuiltinRow& row : kBuiltins) names.push_back(row.name);
  return names;
}

StatementResult ExecuteSrand(ScriptContext&, const std::string&) {
  SeedRandom(static_cast<uint32_t>(static_cast<unsigned long long>(std::time(nullptr))));
  return StatementResult::Continue();
}

}  // namespace velmar
