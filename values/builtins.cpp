#include "values/builtins.h"

#include <algorithm>
#include <climits>
#include <ctime>
#include <filesystem>
#include <vector>

#include "engine/executor.h"
#include "engine/host_requests.h"
#include "engine/script_context.h"
#include "values/text_file_ops.h"

namespace velmar {

namespace {

constexpr char kFormatError[] = "格式有误．";

thread_local uint32_t randomState = 1;

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

// The pieces of SplitText, stored in _0, _1, ... as they are found: a huge
// text gives millions of variables, so no list of pieces is built first and
// a stop request ends the work between two pieces.
std::string Split(ScriptContext& ctx, std::string_view text, std::string_view separator) {
  const CodePage& cp = ctx.codePage();
  std::size_t count = 0;
  std::string varName = "_";
  auto store = [&](std::string_view piece) {
    varName.resize(1);
    varName += std::to_string(count++);
    ctx.variables.Set(varName, piece);
  };
  std::size_t pos = 0;
  if (!separator.empty()) {
    for (;;) {
      if (ctx.stop.requested()) return std::to_string(count);
      const std::size_t hit = cp.Find(text, separator, pos);
      if (hit == std::string_view::npos) break;
      store(text.substr(pos, hit - pos));
      pos = hit + separator.size();
    }
  }
  store(text.substr(pos));
  return std::to_string(count);
}

}  // namespace

int DrawRandom() {
  randomState = randomState * 214013u + 2531011u;
  return static_cast<int>((randomState >> 16) & 0x7FFF);
}

void SeedRandom(uint32_t seed) {
  randomState = seed;
}

std::string CallBuiltin(ScriptContext& ctx, std::string_view namePart) {
  const CodePage& cp = ctx.codePage();
  const std::vector<std::string> args = SplitText(namePart, "<<<", cp);
  const std::string name = cp.Lower(CodePage::Trim(args[0]));
  const std::size_t count = args.size();
  // Below its minimum count a function reports the format error and yields
  // its fallback value; the statement in progress still completes.
  auto tooFew = [&](std::size_t minimum) {
    if (count >= minimum) return false;
    reportScriptError(ctx, std::string(namePart), kFormatError);
    return true;
  };

  if (name == "len") {
    if (tooFew(2)) return "0";
    return std::to_string(args[1].size());
  }
  if (name == "isnull") {
    if (tooFew(2)) return "1";
    return args[1].empty() ? "1" : "0";
  }
  if (name == "writefile") {
    if (tooFew(3)) return "0";
    const std::string_view mode = count >= 4 ? std::string_view(args[3]) : "a";
    return WriteTextFile(ResolvePath(ctx, args[1]), args[2], mode, cp) ? "1" : "0";
  }
  if (name == "readfile") {
    if (count < 2 || count > 3) {
      reportScriptError(ctx, std::string(namePart), kFormatError);
      return {};
    }
    const std::string path = ResolvePath(ctx, args[1]);
    if (count == 2) return ReadTextFile(path, cp);
    if (args[2] == "0") return std::to_string(CountTextLines(path, cp));
    return ReadTextLine(path, LeadingInteger(args[2]), cp);
  }
  if (name == "indexof") {
    if (tooFew(3)) return "-1";
    const std::size_t at = cp.Find(args[1], args[2]);
    return at == std::string_view::npos ? "-1" : std::to_string(at);
  }
  if (name == "lastindexof") {
    if (tooFew(3)) return "-1";
    if (args[2].empty()) return std::to_string(args[1].size());
    const std::size_t at = cp.FindLastByte(args[1], args[2][0]);
    return at == std::string_view::npos ? "-1" : std::to_string(at);
  }
  if (name == "replace") {
    if (tooFew(3)) return {};
    if (args[2].empty()) return args[1];
    return ReplaceEvery(cp, args[1], args[2], count >= 4 ? std::string_view(args[3]) : "");
  }
  if (name == "split") {
    if (tooFew(3)) return "0";
    return Split(ctx, args[1], args[2]);
  }
  if (name == "compare") {
    if (tooFew(3)) return "0";
    return args[1] == args[2] ? "1" : "0";
  }
  if (name == "substr") {
    if (tooFew(3)) return {};
    return Substring(args);
  }
  if (name == "longtime") {
    std::tm local = LocalNow();
    return std::to_string(static_cast<long long>(std::mktime(&local)));
  }
  if (name == "time") return FormatTime(cp, args);
  if (name == "urlencode") {
    if (tooFew(2)) return {};
    return UrlEncode(args[1]);
  }
  if (name == "lcase") {
    if (tooFew(2)) return {};
    return cp.Lower(args[1]);
  }
  if (name == "ucase") {
    if (tooFew(2)) return {};
    return cp.Upper(args[1]);
  }
  if (name == "rand") {
    if (tooFew(2)) return "0";
    return Rand(args);
  }
  if (name == "userpath") {
    std::string home = ctx.env->home.string();
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    return home;
  }
  if (name == "robotid") return std::to_string(ctx.id);
  if (name == "screenwidth" || name == "screenheight") {
    const ScreenSize size = ctx.host ? ctx.host->screenSize() : ScreenSize{};
    return std::to_string(name == "screenwidth" ? size.width : size.height);
  }
  return {};
}

std::vector<std::string_view> BuiltinNames() {
  return {"len",   "isnull",  "writefile", "readfile", "indexof",     "lastindexof", "replace",
          "split", "compare", "substr",    "longtime", "time",        "urlencode",   "lcase",
          "ucase", "rand",    "userpath",  "robotid",  "screenwidth", "screenheight"};
}

void ExecuteSrand(ScriptContext&) {
  SeedRandom(static_cast<uint32_t>(static_cast<unsigned long long>(std::time(nullptr))));
}

}  // namespace velmar
