#include "regex/named_regex.h"

#include <algorithm>
#include <cstdio>

#include "platform/stop_signal.h"
#include "regex/huge_page_buffer.h"
#include "regex/utf16_text_cache.h"
#include "values/text_limits.h"

namespace velmar {
namespace {

// Where the next search starts after a match: at its end, or one character
// further when it was empty (a surrogate pair counts as one character), so
// that a pattern matching empty cannot hold the search in place.
std::size_t NextSearchStart(std::u16string_view text, const RegExpMatch& m) {
  const auto end = static_cast<std::size_t>(m.matchEnd);
  if (m.matchEnd != m.matchStart) return end;
  if (end + 1 < text.size() && text[end] >= 0xD800 && text[end] <= 0xDBFF &&
      text[end + 1] >= 0xDC00 && text[end + 1] <= 0xDFFF) {
    return end + 2;
  }
  return end + 1;
}

// Every occurrence of `from` replaced by `to`, left to right, without
// looking again at what was put in. False (with `text` unchanged) when the
// result would pass `limit` units or a stop was requested on the way.
bool ReplaceAll(std::u16string& text, std::u16string_view from, std::u16string_view to,
                std::size_t limit, const StopSignal* stop) {
  if (from.empty()) return true;
  std::size_t at = text.find(from);
  if (at == std::u16string::npos) return true;
  std::u16string out;
  out.reserve(text.size());
  std::size_t done = 0;
  for (std::size_t n = 1; at != std::u16string::npos; ++n) {
    if (n % 64 == 0 && stop && stop->requested()) return false;
    out.append(text, done, at - done);
    if (to.size() > limit - std::min(limit, out.size())) return false;
    out.append(to);
    done = at + from.size();
    at = text.find(from, done);
  }
  if (text.size() - done > limit - std::min(limit, out.size())) return false;
  out.append(text, done, std::u16string::npos);
  text.swap(out);
  return true;
}

// The text copy and the backtrack stack are kept between calls to save
// allocations, but not once a huge text or a deep backtrack made them large:
// a script holds its named expressions until it ends.
void ReleaseLargeBuffers(NamedRegex& regex) {
  constexpr std::size_t kKeep = std::size_t{1} << 22;
  if (regex.buffer.capacity() > kKeep) std::u16string().swap(regex.buffer);
  if (regex.matchState.stack.capacity() > kKeep) {
    std::vector<int32_t>().swap(regex.matchState.stack);
  }
}

// The UTF-16 form of a text in the expression's own buffer, kept exactly as
// long as the converted text (NUL units included); returns where a search
// stops.
std::size_t ConvertIntoBuffer(NamedRegex& regex, const CodePage& cp, std::string_view text) {
  regex.buffer.resize(text.size());
  std::size_t end = 0;
  regex.buffer.resize(ConvertForMatching(cp, text, regex.buffer.data(), end));
  return end;
}

// Appends a group's text in the code page; most group texts are ASCII and
// are copied over unit by unit.
void AppendGroupText(const CodePage& cp, std::u16string_view group, std::string& out,
                     std::string& scratch) {
  bool ascii = true;
  for (char16_t u : group) ascii &= u < 0x80;
  if (ascii) {
    const std::size_t at = out.size();
    out.resize(at + group.size());
    for (std::size_t i = 0; i < group.size(); ++i) out[at + i] = static_cast<char>(group[i]);
    return;
  }
  cp.FromUtf16(group, scratch);
  out += scratch;
}

// `t` is the UTF-16 form of a non-empty text, up to its first NUL unit.
int CollectMatches(NamedRegex& regex, const CodePage& cp, std::u16string_view t,
                   const StopSignal* stop) {
  RegExpMatch& m = regex.matchState;
  m.stop = stop;
  bool found = Match(regex.program, m, t);
  regex.groupCount = regex.program.groupCount;
  if (regex.groupCount == 0) return 0;
  std::string scratch;
  while (found) {
    for (int g = 0; g < regex.groupCount; ++g) {
      AppendGroupText(cp, m.Group(t, g), regex.results.emplace_back(), scratch);
    }
    if (static_cast<std::size_t>(m.matchEnd) >= t.size()) break;
    found = Match(regex.program, m, t, nullptr, NextSearchStart(t, m));
  }
  return static_cast<int>(regex.results.size());
}

// A character never takes fewer bytes in the code page than UTF-16 units, so
// a text of more units than the expansion limit would pass it as bytes too.
std::string ReplaceMatches(NamedRegex& regex, const CodePage& cp, std::string_view text,
                           std::string_view replacement, const StopSignal* stop, bool& tooLong) {
  constexpr std::size_t kLimit = kMaxExpandedTextSize;
  regex.groupCount = 0;
  if (!regex.compiled || text.empty()) return std::string(text);
  const std::size_t end = ConvertIntoBuffer(regex, cp, text);
  if (regex.buffer.empty()) return std::string(text);
  const std::u16string wideReplacement = cp.ToUtf16(replacement);
  const std::u16string_view t = std::u16string_view(regex.buffer).substr(0, end);
  RegExpMatch& m = regex.matchState;
  m.stop = stop;
  bool found = Match(regex.program, m, t);
  regex.groupCount = regex.program.groupCount;
  if (regex.groupCount == 0) return std::string(text);

  std::u16string result(regex.buffer);
  std::u16string r;
  std::u16string marker;
  // A replacement holding its match's text grows the result with every
  // further match of that text: the expansion limit bounds it, and a stop
  // request ends the work between two matches.
  while (found) {
    if (stop && stop->requested()) break;
    r = wideReplacement;
    bool fits = true;
    for (int i = 1; i < regex.groupCount && fits; ++i) {
      marker.assign(1, u'$');
      for (char c : std::to_string(i)) marker.push_back(static_cast<char16_t>(c));
      if (!ReplaceAll(r, marker, m.Group(t, i), kLimit, stop)) {
        tooLong = !(stop && stop->requested());
        return {};
      }
    }
    if (!ReplaceAll(result, m.Group(t, 0), r, kLimit, stop)) {
      tooLong = !(stop && stop->requested());
      return {};
    }
    if (static_cast<std::size_t>(m.matchEnd) >= t.size()) break;
    found = Match(regex.program, m, t, nullptr, NextSearchStart(t, m));
  }
  std::string out = cp.FromUtf16(result);
  if (out.size() > kLimit) {
    tooLong = true;
    return {};
  }
  return out;
}

}  // namespace

std::unique_ptr<NamedRegex> CreateNamedRegex(const CodePage& cp, std::string_view pattern) {
  auto regex = std::make_unique<NamedRegex>();
  const std::u16string wide = cp.ToUtf16(pattern);
  regex->compiled = Compile(regex->program, std::u16string_view(wide)) == RegExpError::kNone;
  return regex;
}

int MatchAll(NamedRegex& regex, const CodePage& cp, std::string_view text, const StopSignal* stop,
             Utf16TextCache* cache) {
  regex.results.clear();
  regex.groupCount = 0;
  if (!regex.compiled || text.empty()) return 0;
  int count = 0;
  if (cache) {
    count = CollectMatches(regex, cp, cache->Get(cp, text), stop);
    cache->ReleaseLarge();
  } else {
    const std::size_t end = ConvertIntoBuffer(regex, cp, text);
    count = CollectMatches(regex, cp, std::u16string_view(regex.buffer).substr(0, end), stop);
  }
  ReleaseLargeBuffers(regex);
  return count;
}

std::string RegexReplace(NamedRegex& regex, const CodePage& cp, std::string_view text,
                         std::string_view replacement, const StopSignal* stop, bool* tooLong) {
  bool overLimit = false;
  std::string result = ReplaceMatches(regex, cp, text, replacement, stop, overLimit);
  if (tooLong) *tooLong = overLimit;
  ReleaseLargeBuffers(regex);
  return result;
}

std::string RegexTesterText(const CodePage& cp, std::string_view pattern, std::string_view text,
                            const StopSignal* stop) {
  std::unique_ptr<NamedRegex> regex = CreateNamedRegex(cp, pattern);
  // The tester runs once over what may be a large file: the text is
  // converted into a buffer that is written once and never cleared, and the
  // report is built from the spans of the groups, with no text per result.
  int groups = 0;
  std::vector<std::size_t> spans;
  HugePageBuffer<char16_t> wide;
  std::u16string_view t;
  if (regex->compiled && !text.empty()) {
    wide = HugePageBuffer<char16_t>(text.size());
    std::size_t end = 0;
    ConvertForMatching(cp, text, wide.data(), end);
    t = std::u16string_view(wide.data(), end);
    RegExpMatch& m = regex->matchState;
    m.stop = stop;
    bool found = Match(regex->program, m, t);
    groups = regex->program.groupCount;
    // The matcher looks at the stop request only during long attempts; a
    // text of many quick matches is looked at between them.
    for (std::size_t n = 1; found && groups > 0; ++n) {
      if (n % 256 == 0 && stop && stop->requested()) break;
      for (int g = 0; g < groups; ++g) {
        const std::u16string_view group = m.Group(t, g);
        spans.push_back(group.empty() ? 0 : static_cast<std::size_t>(group.data() - t.data()));
        spans.push_back(group.size());
      }
      if (static_cast<std::size_t>(m.matchEnd) >= t.size()) break;
      found = Match(regex->program, m, t, nullptr, NextSearchStart(t, m));
    }
  }
  const std::size_t count = spans.size() / 2;
  char head[64];
  std::snprintf(head, sizeof head, "count:%zu; groups:%d;", count, groups);
  std::string out = head;
  std::string scratch;
  for (std::size_t i = 0; i < count; ++i) {
    // "\r\n%03d - ": the number has three digits at least.
    out += "\r\n";
    char digits[24];
    char* const last = digits + sizeof digits;
    char* first = last;
    std::size_t n = i;
    do {
      *--first = static_cast<char>('0' + n % 10);
      n /= 10;
    } while (n != 0);
    while (last - first < 3) *--first = '0';
    out.append(first, last);
    out += " - ";
    AppendGroupText(cp, t.substr(spans[2 * i], spans[2 * i + 1]), out, scratch);
  }
  return out;
}

}  // namespace velmar
