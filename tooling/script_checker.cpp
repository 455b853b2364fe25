#include "tooling/script_checker.h"

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string_view>
#include <unordered_set>

#include "engine/keyword_table.h"
#include "regex/reg_exp.h"
#include "engine/statements/builtins.h"
#include "values/reference_scanner.h"
#include "values/text_file_ops.h"

namespace velmar {

namespace {

bool IsDynamic(std::string_view text) {
  // A bracket may start a reference and a parenthesis an expression: the
  // text is only known when the script runs.
  return text.find_first_of("[(") != std::string_view::npos;
}

// Edit distance, stopped early: only "is it within `limit`" matters.
std::size_t EditDistance(std::string_view a, std::string_view b, std::size_t limit) {
  if ((a.size() > b.size() ? a.size() - b.size() : b.size() - a.size()) > limit) return limit + 1;
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

class Checker {
 public:
  Checker(const ScriptProgram& program, const EngineEnvironment& env, const SourceTexts* texts)
      : p_(program), env_(env), cp_(*env.codePage), last_(program.lastIndex()), texts_(texts) {}

  std::vector<CheckFinding> Run() {
    CheckIncludes();
    CheckBlocks();
    CheckLabels();
    CheckPatternsAndReferences();
    CheckJoinedLines();
    CheckUnreachable();
    CheckEventSections();
    CheckUnwrittenVariables();
    if (env_.expandReceived && !p_.files.empty()) {
      Add(0, 1, 1, false,
          "expandreceived=1 in Config.ini: text received from outside is expanded as the "
          "script's own and can act as code");
    }
    std::stable_sort(found_.begin(), found_.end(), [](const Sorted& a, const Sorted& b) {
      if (a.file != b.file) return a.file < b.file;
      if (a.finding.line != b.finding.line) return a.finding.line < b.finding.line;
      return a.finding.column < b.finding.column;
    });
    std::vector<CheckFinding> out;
    out.reserve(found_.size());
    for (Sorted& s : found_) out.push_back(std::move(s.finding));
    return out;
  }

 private:
  struct Sorted {
    uint32_t file;
    CheckFinding finding;
  };

  void Add(uint32_t file, uint32_t line, uint32_t column, bool error, std::string message) {
    CheckFinding f;
    f.file = file < p_.files.size() ? p_.files[file] : std::string();
    f.line = line;
    f.column = column == 0 ? 1 : column;
    f.error = error;
    f.message = std::move(message);
    found_.push_back({file, std::move(f)});
  }
  void Add(const ScriptCommand& c, bool error, std::string message, uint32_t column = 1) {
    Add(c.file, c.line, column, error, std::move(message));
  }

  // The text of a line of one of the program's files, read once per file
  // and only for files with findings.
  std::string_view LineOf(uint32_t file, uint32_t line) {
    auto it = sources_.find(file);
    if (it == sources_.end()) {
      Source source;
      if (file < p_.files.size()) {
        const auto held = texts_ ? texts_->find(p_.files[file]) : SourceTexts::const_iterator();
        source.text = texts_ && held != texts_->end() ? held->second : ReadTextFile(p_.files[file], cp_);
      }
      const std::string& t = source.text;
      for (std::size_t pos = 0; pos < t.size();) {
        source.starts.push_back(pos);
        const std::size_t q = t.find("\r\n", pos);
        pos = q == std::string::npos ? t.size() : q + 2;
      }
      it = sources_.emplace(file, std::move(source)).first;
    }
    const Source& source = it->second;
    if (line == 0 || line > source.starts.size()) return {};
    const std::size_t begin = source.starts[line - 1];
    std::size_t end = line < source.starts.size() ? source.starts[line] : source.text.size();
    std::string_view text = std::string_view(source.text).substr(begin, end - begin);
    if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n") text.remove_suffix(2);
    return text;
  }

  // Column (from 1, in characters) of `needle` in the line, plus `after`
  // characters; 1 when the line does not hold it.
  uint32_t ColumnOf(uint32_t file, uint32_t line, std::string_view needle, std::size_t after = 0) {
    const std::string_view text = LineOf(file, line);
    const std::size_t at = needle.empty() ? std::string_view::npos : text.find(needle);
    if (at == std::string_view::npos) return 1;
    std::size_t column = 1;
    for (std::size_t pos = 0; pos < at; pos += cp_.CharLength(text, pos)) ++column;
    return static_cast<uint32_t>(column + after);
  }

  void CheckIncludes() {
    for (const IncludeProblem& problem : p_.includeProblems) {
      Add(problem.at.file, problem.at.line, 1, true, DescribeIncludeProblem(problem));
    }
  }

  // Braces that do not pair, and the statements that only mean something
  // inside a block of their kind.
  void CheckBlocks() {
    std::vector<uint32_t> open;  // the `{` not yet closed
    std::vector<int32_t> closedOwner(p_.commands.size(), stmt::kNone);
    auto ownerOf = [&](uint32_t brace) { return brace == 0 ? stmt::kNone : p_.commands[brace - 1].id; };
    for (uint32_t i = 0; i < last_; ++i) {
      const ScriptCommand& c = p_.commands[i];
      switch (c.id) {
        case stmt::kBlockOpen:
          open.push_back(i);
          break;
        case stmt::kBlockClose:
          if (open.empty()) {
            Add(c, true, "'}' closes no block");
          } else {
            closedOwner[i] = ownerOf(open.back());
            open.pop_back();
          }
          break;
        case stmt::kElse:
          if (i == 0 || p_.commands[i - 1].id != stmt::kBlockClose || closedOwner[i - 1] != stmt::kIf) {
            Add(c, true, "'else' does not follow the block of an 'if'");
          }
          break;
        case stmt::kCase:
        case stmt::kDefault:
          if (open.empty() || ownerOf(open.back()) != stmt::kSwitch) {
            Add(c, true, std::string("'") + std::string(KeywordOf(c.id)) +
                             "' is not inside the block of a 'switch'");
          }
          break;
        case stmt::kBreak:
          if (open.empty()) Add(c, true, "'break' is not inside any block");
          break;
        default:
          break;
      }
    }
    for (uint32_t brace : open) Add(p_.commands[brace], true, "'{' is never closed");
  }

  void CheckLabels() {
    std::map<std::string_view, const LabelDefinition*> first;
    for (const LabelDefinition& d : p_.labelDefinitions) {
      auto [it, inserted] = first.emplace(d.label, &d);
      if (inserted) continue;
      const LabelDefinition& earlier = *it->second;
      Add(d.at.file, d.at.line, 1, true,
          "label " + d.label + " is defined twice (first at " + p_.files[earlier.at.file] + ":" +
              std::to_string(earlier.at.line) + ")");
    }
    for (uint32_t i = 0; i < last_; ++i) {
      const ScriptCommand& c = p_.commands[i];
      if (c.id != stmt::kGoto && c.id != stmt::kCall) continue;
      if (IsDynamic(c.text) || c.text.find('\n') != std::string::npos) continue;
      if (p_.FindLabel(c.text)) continue;
      const std::string what = c.id == stmt::kGoto ? "goto" : "call";
      std::string message = what + " to " + (c.text.empty() ? std::string("an empty label") : c.text) +
                            ", which no line defines";
      std::string lower = cp_.Lower(c.text);
      if (lower != c.text && p_.FindLabel(lower)) message += " (labels are written in lower case)";
      Add(c, true, std::move(message), ColumnOf(c.file, c.line, c.text));
    }
  }

  // Literal patterns of `regex`, built-in calls and named-expression
  // references in the texts the executor expands.
  void CheckPatternsAndReferences() {
    std::unordered_set<std::string> created;
    bool dynamicNames = false;
    for (uint32_t i = 0; i < last_; ++i) {
      const ScriptCommand& c = p_.commands[i];
      if (c.id != stmt::kRegex) continue;
      const FirstWordSplit split = splitFirstWord(c.text, "", cp_);
      if (!split.found) continue;  // the run reports it: no pattern
      if (IsDynamic(split.head)) {
        dynamicNames = true;
      } else {
        created.insert(split.head);
      }
      const std::u16string wide = cp_.ToUtf16(split.tail);
      RegExpProgram program;
      const RegExpError error = Compile(program, std::u16string_view(wide));
      if (error == RegExpError::kNone) continue;
      const std::string_view firstLine = std::string_view(split.tail).substr(0, split.tail.find('\n'));
      std::size_t characters = 0;
      for (std::size_t u = 0; u < program.errorOffset && u < wide.size(); ++u) {
        if (wide[u] < 0xDC00 || wide[u] > 0xDFFF) ++characters;
      }
      Add(c, true,
          std::string("pattern of regex ") + split.head + " does not compile: " +
              RegExpErrorReason(error) + " at position " + std::to_string(program.errorOffset),
          ColumnOf(c.file, c.line, firstLine, characters));
    }

    std::vector<ReferenceMatch> refs;
    for (uint32_t i = 0; i < last_; ++i) {
      const ScriptCommand& c = p_.commands[i];
      if (!IsExpandedText(c.id)) continue;
      CheckExpandCalls(c);
      FindReferences(cp_, c.text, refs);
      for (const ReferenceMatch& r : refs) {
        const std::string_view part = r.NamePart(c.text);
        const std::string_view ref = std::string_view(c.text).substr(r.pos, r.len);
        // The line of the reference: the statement's own line plus the
        // continuation lines before it, when they are of the same file.
        uint32_t line = c.line;
        const auto breaks = static_cast<uint32_t>(std::count(c.text.begin(), c.text.begin() + r.pos, '\n'));
        if (breaks > 0 && c.lastLine >= c.line + breaks) line = c.line + breaks;
        if (r.sigil == '@') {
          CheckBuiltinCall(c, line, part, ref);
        } else if (r.sigil == '$' && !dynamicNames) {
          const FirstWordSplit split = splitFirstWord(part, ".", cp_);
          if (!split.found || split.head.empty() || created.count(split.head)) continue;
          Add(c.file, line, ColumnOf(c.file, line, ref), true,
              "reference to the regular expression " + split.head + ", which no regex statement creates");
        }
      }
    }
  }

  // The one way a script asks for received text to be run as its own. Its
  // argument is usually a reference itself, so the call is found by its
  // opening rather than as a reference of the first pass.
  void CheckExpandCalls(const ScriptCommand& c) {
    static constexpr std::string_view kOpening = "[@expand<<<";
    const std::string lower = cp_.Lower(c.text);
    for (std::size_t at = lower.find(kOpening); at != std::string::npos;
         at = lower.find(kOpening, at + kOpening.size())) {
      uint32_t line = c.line;
      const auto breaks = static_cast<uint32_t>(std::count(c.text.begin(), c.text.begin() + at, '\n'));
      if (breaks > 0 && c.lastLine >= c.line + breaks) line = c.line + breaks;
      Add(c.file, line, ColumnOf(c.file, line, std::string_view(c.text).substr(at, kOpening.size())), false,
          "expand runs its text as the script's own: text received from outside passed here can "
          "act as code");
    }
  }

  static bool IsExpandedText(int32_t id) {
    switch (id) {
      case stmt::kIf:
      case stmt::kWhile:
      case stmt::kSwitch:
      case stmt::kCase:
      case stmt::kGoto:
      case stmt::kCall:
      case stmt::kPause:
        return true;
      default:
        return ArgumentModeOf(id) == ArgumentMode::kExpanded;
    }
  }

  void CheckBuiltinCall(const ScriptCommand& c, uint32_t line, std::string_view part,
                        std::string_view ref) {
    const std::vector<std::string> args = SplitText(part, "<<<", cp_);
    if (args.empty()) return;
    const std::string name = cp_.Lower(CodePage::Trim(args[0]));
    std::size_t minCount = 0;
    std::size_t maxCount = 0;
    if (!BuiltinCounts(name, minCount, maxCount)) {
      Add(c.file, line, ColumnOf(c.file, line, ref), true, "no built-in function is named " + name);
      return;
    }
    if (args.size() >= minCount && args.size() <= maxCount) return;
    const std::size_t given = args.size() - 1;
    std::string takes;
    if (maxCount == SIZE_MAX) {
      takes = "at least " + std::to_string(minCount - 1);
    } else if (minCount == maxCount) {
      takes = std::to_string(minCount - 1);
    } else {
      takes = std::to_string(minCount - 1) + " to " + std::to_string(maxCount - 1);
    }
    Add(c.file, line, ColumnOf(c.file, line, ref), true,
        name + " takes " + takes + " argument" + (takes == "1" ? "" : "s") + ", given " +
            std::to_string(given));
  }

  // A line whose first word is almost a keyword was joined to the statement
  // above it: legal, and nearly always a typo.
  void CheckJoinedLines() {
    std::vector<std::string_view> keywords;
    for (int32_t id = 1; id <= stmt::kMaxId; ++id) {
      const std::string_view k = KeywordOf(id);
      if (k.size() >= 3 && LookupKeyword(k, env_.flavor) == id) keywords.push_back(k);
    }
    for (uint32_t i = 0; i < last_; ++i) {
      const ScriptCommand& c = p_.commands[i];
      if (c.text.find('\n') == std::string::npos) continue;
      std::vector<std::string_view> parts;
      std::string_view rest = c.text;
      for (std::size_t q; (q = rest.find('\n')) != std::string_view::npos;) {
        parts.push_back(rest.substr(0, q));
        rest.remove_prefix(q + 1);
      }
      parts.push_back(rest);
      // Lines are known only when every joined line came from this file.
      if (c.lastLine != c.line + parts.size() - 1) continue;
      for (std::size_t k = 1; k < parts.size(); ++k) {
        const std::string word = splitFirstWord(parts[k], "", cp_).head;
        const std::string_view w = word.empty() ? parts[k] : std::string_view(word);
        if (w.size() < 4 || w.size() > 15) continue;
        if (!std::all_of(w.begin(), w.end(), [](char ch) { return (ch | 0x20) >= 'a' && (ch | 0x20) <= 'z'; }))
          continue;
        const std::string lower = cp_.Lower(w);
        const std::size_t limit = lower.size() >= 6 ? 2 : 1;
        for (std::string_view k2 : keywords) {
          if (EditDistance(lower, k2, limit) > limit) continue;
          const auto line = static_cast<uint32_t>(c.line + k);
          Add(c.file, line, ColumnOf(c.file, line, w), false,
              "'" + std::string(w) + "' is no keyword (did you mean '" + std::string(k2) +
                  "'?): the line is joined to the statement above it");
          break;
        }
      }
    }
  }

  // A statement right after an unconditional `exit` or literal `goto` of
  // the same block that no label leads to can never run.
  void CheckUnreachable() {
    std::vector<bool> labelled(p_.commands.size(), false);
    for (const auto& [label, index] : p_.labels) {
      if (index < labelled.size()) labelled[index] = true;
    }
    for (uint32_t i = 0; i + 1 < last_; ++i) {
      const ScriptCommand& c = p_.commands[i];
      const bool ends = c.id == stmt::kExit || (c.id == stmt::kGoto && !IsDynamic(c.text));
      if (!ends || labelled[i + 1]) continue;
      const ScriptCommand& next = p_.commands[i + 1];
      switch (next.id) {
        case stmt::kBlockClose:
        case stmt::kElse:
        case stmt::kCase:
        case stmt::kDefault:
          continue;
        default:
          break;
      }
      Add(next, false, std::string("'") + std::string(KeywordOf(next.id)) +
                           "' can never run: it follows an unconditional " +
                           std::string(KeywordOf(c.id)) + " and no label leads to it");
    }
  }

  // The tray and the hot key raise a fixed set of events; a section for
  // another event of theirs never runs. (Window events are left alone: any
  // script's window can raise them, with names its page chooses.)
  void CheckEventSections() {
    static const std::set<std::string_view> kRaised = {"<on_tray_click>", "<on_tray_click_show>",
                                                       "<on_tray_click_quit>", "<on_system_hotkey>"};
    for (const LabelDefinition& d : p_.labelDefinitions) {
      const std::string_view label = d.label;
      const bool tray = label.rfind("<on_tray_", 0) == 0;
      const bool system = label.rfind("<on_system_", 0) == 0;
      if ((!tray && !system) || kRaised.count(label)) continue;
      Add(d.at.file, d.at.line, 1, false,
          "event section " + d.label + " never runs: the " + (tray ? "tray raises only click, "
                                                                     "click_show and click_quit"
                                                                   : "hot key raises only system_hotkey"));
    }
  }

  // The variable a `[#name]` word names; empty when it is not one.
  static std::string VariableOf(std::string_view word) {
    if (word.size() < 4 || word.substr(0, 2) != "[#" || word.back() != ']') return {};
    return std::string(word.substr(2, word.size() - 3));
  }

  // A variable read where no statement of the program writes it holds the
  // empty text: usually a misspelt name.
  void CheckUnwrittenVariables() {
    // Set by the system, the host or the statements themselves.
    static const std::set<std::string_view> kSystem = {
        "status", "http_body", "http_head", "http_status", "http_url", "input", "return",
        "param", "source",
        "window_name", "window_event", "window_value"};
    std::unordered_set<std::string> written;
    for (uint32_t i = 0; i < last_; ++i) {
      const ScriptCommand& c = p_.commands[i];
      std::string head;
      if (c.id == stmt::kVar || c.id == stmt::kGetCookies) {
        head = splitFirstWord(c.text, "", cp_).head;
      } else if (c.id == stmt::kReplace) {
        head = splitFirstWord(splitFirstWord(c.text, "", cp_).tail, "", cp_).head;
      } else {
        continue;
      }
      const std::string name = VariableOf(head);
      // A name built at run time could be any name: nothing can be said.
      if (name.empty() || IsDynamic(name)) return;
      written.insert(name);
    }
    std::vector<ReferenceMatch> refs;
    std::set<std::string> reported;
    for (uint32_t i = 0; i < last_; ++i) {
      const ScriptCommand& c = p_.commands[i];
      if (!IsExpandedText(c.id)) continue;
      FindReferences(cp_, c.text, refs);
      for (const ReferenceMatch& r : refs) {
        if (r.sigil != '#') continue;
        const std::string name(r.NamePart(c.text));
        // `split` stores its pieces in _0, _1, ...
        if (name.empty() || name[0] == '_' || kSystem.count(name) || written.count(name)) continue;
        if (!reported.insert(name).second) continue;
        uint32_t line = c.line;
        const auto breaks = static_cast<uint32_t>(std::count(c.text.begin(), c.text.begin() + r.pos, '\n'));
        if (breaks > 0 && c.lastLine >= c.line + breaks) line = c.line + breaks;
        const std::string_view ref = std::string_view(c.text).substr(r.pos, r.len);
        Add(c.file, line, ColumnOf(c.file, line, ref), false,
            "variable " + name + " is read, but no statement writes it");
      }
    }
  }

  const ScriptProgram& p_;
  const EngineEnvironment& env_;
  const CodePage& cp_;
  const uint32_t last_;
  const SourceTexts* texts_;
  std::vector<Sorted> found_;
  struct Source {
    std::string text;
    std::vector<std::size_t> starts;  // where each line begins
  };
  std::map<uint32_t, Source> sources_;
};

}  // namespace

std::vector<CheckFinding> CheckProgram(const ScriptProgram& program, const EngineEnvironment& env,
                                       const SourceTexts* texts) {
  return Checker(program, env, texts).Run();
}

std::vector<CheckFinding> CheckScriptFile(const std::string& path, const EngineEnvironment& env) {
  return CheckProgram(LoadScriptFile(path, env), env);
}

std::string FormatFindingText(const CheckFinding& f) {
  return f.file + ":" + std::to_string(f.line) + ":" + std::to_string(f.column) + ": " +
         (f.error ? "error" : "warning") + ": " + f.message;
}

std::string FormatFindingJson(const CheckFinding& f) {
  const nlohmann::json object = {{"file", f.file},
                                 {"line", f.line},
                                 {"column", f.column},
                                 {"severity", f.error ? "error" : "warning"},
                                 {"message", f.message}};
  // Script texts are bytes of their code page: what is no UTF-8 is replaced
  // rather than refused.
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace velmar
