#pragma once
// Named regular expressions of a script and their last results. A named
// expression joins the engine, which works on UTF-16, to the multibyte texts
// of scripts: texts cross over through the active code page both ways.

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "regex/reg_exp.h"
#include "values/code_page.h"

namespace velmar {

class StopSignal;
class Utf16TextCache;

class NamedRegex {
 public:
  RegExpProgram program;
  RegExpMatch matchState;
  bool compiled = false;
  // 0 at the start of every match-all and replace; then, for a non-empty
  // text, the number of capture groups of the pattern.
  int groupCount = 0;
  // Group texts of every match of the last match-all: group j of match i is
  // at i * groupCount + j.
  std::vector<std::string> results;
  // The last match ran over text that came from outside.
  bool receivedResults = false;
  // The pattern as the script wrote it, for the run's record.
  std::string source;

  // UTF-16 copy of the text being searched, kept to save allocations.
  std::u16string buffer;
};

// A type of its own rather than an alias, so that the script's context can
// name it without this header.
struct RegexTable : std::map<std::string, std::unique_ptr<NamedRegex>, std::less<>> {};

// Compiles a multibyte pattern; never fails: a pattern that does not compile
// gives an expression that matches nothing.
std::unique_ptr<NamedRegex> CreateNamedRegex(const CodePage& cp, std::string_view pattern);

// Collects the groups of every match, left to right; returns the number of
// results. A requested stop ends the search early. With a cache, a text
// matched before (by any expression sharing the cache) is not converted again.
int MatchAll(NamedRegex& regex, const CodePage& cp, std::string_view text,
             const StopSignal* stop = nullptr, Utf16TextCache* cache = nullptr);

// Replaces, for every match, each occurrence of its group-0 text by the
// replacement, with $1, $2, ... standing for its further groups. A result
// that would pass the expansion limit (kMaxExpandedTextSize) gives the empty
// text and sets *tooLong; a stop request ends the work early.
std::string RegexReplace(NamedRegex& regex, const CodePage& cp, std::string_view text,
                         std::string_view replacement, const StopSignal* stop = nullptr,
                         bool* tooLong = nullptr);

// The tester's report: "count:N; groups:G;" then one line per result. After a
// requested stop the report holds the matches found until then.
std::string RegexTesterText(const CodePage& cp, std::string_view pattern, std::string_view text,
                            const StopSignal* stop = nullptr);

}  // namespace velmar
