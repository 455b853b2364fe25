#include "engine/statements/regex_statements.h"

#include "engine/executor.h"
#include "engine/keyword_table.h"
#include "engine/script_context.h"
#include "engine/statements/expansion.h"
#include "regex/named_regex.h"
#include "values/messages.h"
#include "values/text_file_ops.h"

namespace velmar {
namespace {

// The reason text for an unknown name: the name is script text, the rest is
// the system's message, so the name goes over to UTF-8 first.
std::string MissingReason(const CodePage& cp, std::string_view name) {
  return cp.ToUtf8(name) + msg::kRegexMissingSuffix;
}

// The statements begin alike: the expression's name up to the first blank,
// expanded, then the rest as written. Without a blank the statement is
// malformed and `reason` is reported.
bool SplitName(ScriptContext& ctx, const std::string& rawText, const char* reason,
               std::string& name, std::string& rest) {
  FirstWordSplit split = splitFirstWord(rawText, "", ctx.codePage());
  if (!split.found) {
    ctx.RaiseError(rawText, reason);
    return false;
  }
  name = std::move(split.head);
  ExpandAndEvaluate(ctx, name);
  rest = std::move(split.tail);
  return true;
}

// Tells the run's observer what a match found. The matcher keeps the texts
// of the groups, not where they were: each match is found again in the
// subject after the previous one, each capture inside its match.
void ReportMatches(RunObserver& observer, std::string_view name, std::string_view written,
                   std::string_view subject, const NamedRegex& regex) {
  PatternMatchReport report;
  report.expression = name;
  report.pattern = regex.source;
  report.subjectVariable = written;
  report.subject = subject;
  const std::size_t groups = static_cast<std::size_t>(regex.groupCount);
  if (groups > 0) {
    std::size_t from = 0;
    for (std::size_t i = 0; i + groups <= regex.results.size(); i += groups) {
      const std::string& whole = regex.results[i];
      const std::size_t at = subject.find(whole, from);
      if (at == std::string_view::npos) break;
      std::vector<std::pair<int64_t, int64_t>> spans;
      spans.emplace_back(at, at + whole.size());
      std::size_t inner = at;
      for (std::size_t j = 1; j < groups; ++j) {
        const std::string& capture = regex.results[i + j];
        const std::size_t c = subject.substr(0, at + whole.size()).find(capture, inner);
        if (c == std::string_view::npos) {
          spans.emplace_back(-1, -1);
          continue;
        }
        spans.emplace_back(c, c + capture.size());
        inner = c + capture.size();
      }
      report.matches.push_back(std::move(spans));
      from = at + (whole.empty() ? 1 : whole.size());
    }
  }
  observer.PatternMatched(report);
}

}  // namespace

std::string ReadRegexValue(ScriptContext& ctx, std::string_view namePart, bool* received) {
  const CodePage& cp = ctx.codePage();
  const FirstWordSplit split = splitFirstWord(namePart, ".", cp);
  if (!split.found || split.head.empty()) {
    ctx.RaiseError(std::string(namePart), msg::kFormatError);
    return {};
  }
  const auto it = ctx.regexes.find(split.head);
  if (it == ctx.regexes.end()) {
    ctx.RaiseError(std::string(namePart), MissingReason(cp, split.head));
    return std::string(namePart);
  }
  const NamedRegex& regex = *it->second;
  const std::string key = cp.Lower(CodePage::Trim(split.tail));
  if (key == "count") return std::to_string(regex.results.size());
  if (key == "group") return std::to_string(regex.groupCount);
  const long long n = LeadingInteger(key);
  if (n < 0 || static_cast<unsigned long long>(n) >= regex.results.size()) {
    ctx.RaiseError(std::string(namePart), msg::kRegexIndexOutOfRange);
    return {};
  }
  if (received) *received = regex.receivedResults;
  return regex.results[static_cast<std::size_t>(n)];
}

StatementResult ExecuteRegex(ScriptContext& ctx, const std::string& rawText) {
  std::string name, pattern;
  if (!SplitName(ctx, rawText, msg::kNoPattern, name, pattern)) return StatementResult::Error();
  // The pattern is taken as written: its brackets and braces are its own.
  std::unique_ptr<NamedRegex> regex = CreateNamedRegex(ctx.codePage(), pattern);
  if (ctx.observer) regex->source = pattern;
  // The script sees a pattern that matches nothing; the person running it
  // learns why.
  if (!regex->compiled) {
    ctx.Diagnose("regular expression " + name + " matches nothing: " +
                 RegExpErrorReason(regex->program.lastError) + " at position " +
                 std::to_string(regex->program.errorOffset));
  }
  ctx.regexes[name] = std::move(regex);
  return StatementResult::Continue();
}

StatementResult ExecuteMatch(ScriptContext& ctx, const std::string& rawText) {
  const CodePage& cp = ctx.codePage();
  std::string name, text;
  if (!SplitName(ctx, rawText, msg::kFormatError, name, text)) return StatementResult::Error();
  const std::string written = ctx.observer ? text : std::string();
  ReceivedSpans spans;
  ExpandAndEvaluate(ctx, text, spans);
  const auto it = ctx.regexes.find(name);
  if (it == ctx.regexes.end()) return ctx.Fail(rawText, MissingReason(cp, name));
  MatchAll(*it->second, cp, text, &ctx.stop, &ctx.regexTexts);
  // A capture of text that came from outside is as much data as the text.
  it->second->receivedResults = !spans.empty();
  if (ctx.observer) ReportMatches(*ctx.observer, name, written, text, *it->second);
  return StatementResult::Continue();
}

StatementResult ExecuteUnregex(ScriptContext& ctx, const std::string& expandedText) {
  const auto it = ctx.regexes.find(expandedText);
  if (it != ctx.regexes.end()) ctx.regexes.erase(it);
  return StatementResult::Continue();
}

StatementResult ExecuteReplace(ScriptContext& ctx, const std::string& rawText) {
  const CodePage& cp = ctx.codePage();
  std::string name, tail;
  if (!SplitName(ctx, rawText, msg::kFormatError, name, tail)) return StatementResult::Error();
  // Without a second blank the target is the rest and the replacement empty.
  const FirstWordSplit rest = splitFirstWord(tail, "", cp);
  std::string target = rest.head;
  std::string replacement = rest.found ? rest.tail : std::string();
  if (target.size() <= 3) return ctx.Fail(rawText, msg::kFormatError);
  // The target is written [#variable]: the name sits between its first two
  // bytes and its last one.
  std::string variable = target.substr(2, target.size() - 3);
  ReceivedSpans targetSpans, replacementSpans;
  ExpandAndEvaluate(ctx, target, targetSpans);
  ExpandAndEvaluate(ctx, replacement, replacementSpans);
  ExpandAndEvaluate(ctx, variable);
  const auto it = ctx.regexes.find(name);
  if (it == ctx.regexes.end()) return ctx.Fail(rawText, MissingReason(cp, name));
  bool tooLong = false;
  std::string result = RegexReplace(*it->second, cp, target, replacement, &ctx.stop, &tooLong);
  if (tooLong) return ctx.Fail(rawText, msg::kExpansionTooLong);
  // A stopped replace leaves the variable as it was.
  if (ctx.stop.requested()) return StatementResult::Continue();
  if (targetSpans.empty() && replacementSpans.empty()) {
    ctx.variables[variable] = std::move(result);
  } else {
    ctx.variables.SetReceived(variable, std::move(result));
  }
  return StatementResult::Continue();
}

}  // namespace velmar
