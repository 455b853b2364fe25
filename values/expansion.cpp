#include "values/expansion.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <unordered_map>
#include <vector>

#include "engine/executor.h"
#include "engine/keyword_table.h"
#include "engine/reference_readers.h"
#include "engine/script_context.h"
#include "values/expression_evaluator.h"
#include "values/messages.h"
#include "values/reference_scanner.h"
#include "values/text_file_ops.h"

namespace velmar {

namespace {

// Where a pass keeps its values: one shared text with a span per reference.
struct ValueSpan {
  std::size_t offset = 0;
  std::size_t len = 0;
  bool identity = false;  // the value is the reference text itself
};

struct PassBuffers {
  std::vector<ReferenceMatch> matches;
  std::vector<ValueSpan> values;
  std::vector<std::size_t> firstIndex;  // first match with the same text
  std::vector<std::size_t> absentAt;    // per first match: see the general case
  std::unordered_map<std::string_view, std::size_t> seen;
  std::string arena;
  std::string out;
  std::string alt;
  bool busy = false;

  void Trim() {
    // Keep the buffers of ordinary texts, give back the memory of huge ones.
    constexpr std::size_t kKeep = std::size_t{1} << 20;
    if (arena.capacity() > kKeep) std::string().swap(arena);
    if (out.capacity() > kKeep) std::string().swap(out);
    if (alt.capacity() > kKeep) std::string().swap(alt);
  }
};

// The per-thread buffers, or private ones when a reference value itself
// expands text (a nested expansion on the same thread).
class BufferLease {
 public:
  BufferLease() {
    PassBuffers& shared = Shared();
    if (!shared.busy) {
      buffers_ = &shared;
    } else {
      own_ = std::make_unique<PassBuffers>();
      buffers_ = own_.get();
    }
    buffers_->busy = true;
  }
  ~BufferLease() {
    buffers_->busy = false;
    buffers_->Trim();
  }
  BufferLease(const BufferLease&) = delete;
  BufferLease& operator=(const BufferLease&) = delete;
  PassBuffers& get() { return *buffers_; }

 private:
  static PassBuffers& Shared() {
    thread_local PassBuffers buffers;
    return buffers;
  }
  PassBuffers* buffers_ = nullptr;
  std::unique_ptr<PassBuffers> own_;
};

void AppendReferenceValue(ScriptContext& ctx, const ReferenceMatch& m, std::string_view text,
                          std::string& out) {
  const std::string_view name = m.NamePart(text);
  switch (m.sigil) {
    case '#':
      out += ctx.variables[name];
      break;
    default:
      if (const ReferenceReader read = ReferenceReaderOf(m.sigil)) {
        out += read(ctx, name);
      } else {  // `!` is reserved: the reference stays as it is
        out.append(text.substr(m.pos, m.len));
      }
      break;
  }
}

bool HasBracket(std::string_view v) {
  bool found = false;
  for (const char c : v) found |= (c == '[') | (c == ']');
  return found;
}

// In GBK a value that ends in a lone lead byte would pair with the byte after
// it, shifting the character boundaries of the text that follows.
bool EndsInLoneLeadByte(const CodePage& cp, std::string_view value) {
  if (!cp.IsGbk()) return false;
  std::size_t pos = 0;
  std::size_t last = 1;
  while (pos < value.size()) {
    last = cp.CharLength(value, pos);
    pos += last;
  }
  return last == 1 && !value.empty() && static_cast<unsigned char>(value.back()) >= 0x81;
}

// `what` for an error: the start of the reference, cut at a character end.
std::string Excerpt(const CodePage& cp, std::string_view text) {
  constexpr std::size_t kMax = 200;
  std::size_t pos = 0;
  while (pos < text.size() && pos < kMax) pos += cp.CharLength(text, pos);
  return std::string(text.substr(0, pos));
}

// Replaces every occurrence of `from` in `src` by `to`, left to right, without
// rescanning inserted text. Returns false (and leaves `dst` unspecified) when
// the result would pass the size limit; `replaced` tells whether `dst` holds a
// new text at all.
bool ReplaceAll(const CodePage& cp, std::string_view src, std::string_view from,
                std::string_view to, std::string& dst, bool& replaced) {
  replaced = false;
  std::size_t hit = cp.Find(src, from, 0);
  if (hit == std::string_view::npos) return true;
  replaced = true;
  dst.clear();
  std::size_t pos = 0;
  while (hit != std::string_view::npos) {
    dst.append(src, pos, hit - pos);
    if (dst.size() + to.size() + (src.size() - hit) > ExpandedTextLimit() + from.size()) {
      return false;
    }
    dst.append(to);
    pos = hit + from.size();
    hit = cp.Find(src, from, pos);
  }
  dst.append(src, pos, std::string_view::npos);
  return dst.size() <= ExpandedTextLimit();
}

void Commit(std::string& text, std::string& result) {
  // Copy small results into the caller's buffer so both keep their capacity.
  if (text.capacity() >= result.size()) {
    text.assign(result);
  } else {
    text.swap(result);
  }
}

enum class PassOutcome {
  kNoReference,
  kChanged,
  kUnchanged,         // references found, all values equal to themselves
  kUnchangedSettled,  // ... and reading them again cannot change anything
  kTooLong,
  kDone,  // changed, and the new text holds no reference
};

PassOutcome RunPass(ScriptContext& ctx, std::string& text, PassBuffers& b) {
  const CodePage& cp = ctx.codePage();
  FindReferences(cp, text, b.matches);
  if (b.matches.empty()) return PassOutcome::kNoReference;

  const std::string_view src = text;
  const std::size_t count = b.matches.size();
  b.arena.clear();
  b.values.resize(count);
  b.firstIndex.resize(count);
  const bool useMap = count > 8;
  if (useMap) b.seen.clear();

  // Values are computed in the order found; they do not depend on the text,
  // only on the name parts and on what earlier values did (a `split` writes
  // variables that a later `[#_0]` of the same pass reads).
  bool simple = true;  // one left-to-right rewrite gives the exact result
  bool changed = false;
  bool settled = true;  // only variable and reserved references
  bool anyIdentity = false;
  for (std::size_t i = 0; i < count; ++i) {
    const ReferenceMatch& m = b.matches[i];
    const std::string_view ref = src.substr(m.pos, m.len);
    if (m.enclosed) simple = false;
    if (m.sigil != '#' && m.sigil != '!') settled = false;
    std::size_t first = i;
    if (useMap) {
      first = b.seen.try_emplace(ref, i).first->second;
    } else {
      for (std::size_t j = 0; j < i; ++j) {
        if (b.matches[j].len == m.len && src.compare(b.matches[j].pos, m.len, ref) == 0) {
          first = j;
          break;
        }
      }
    }
    b.firstIndex[i] = first;
    const std::size_t offset = b.arena.size();
    AppendReferenceValue(ctx, m, src, b.arena);
    ValueSpan span{offset, b.arena.size() - offset, false};
    const std::string_view value(b.arena.data() + offset, span.len);
    if (first != i) {
      const ValueSpan& earlier = b.values[first];
      if (value == std::string_view(b.arena.data() + earlier.offset, earlier.len)) {
        b.arena.resize(offset);
        span = earlier;
      }
    }
    span.identity = std::string_view(b.arena.data() + span.offset, span.len) == ref;
    anyIdentity |= span.identity;
    if (!span.identity) {
      changed = true;
      const std::string_view v(b.arena.data() + span.offset, span.len);
      if (HasBracket(v) || EndsInLoneLeadByte(cp, v)) {
        simple = false;
      }
    }
    b.values[i] = span;
    if (b.arena.size() > ExpandedTextLimit()) {
      reportScriptError(ctx, Excerpt(cp, ref), msg::kExpansionTooLong);
      return PassOutcome::kTooLong;
    }
  }
  if (!changed) return settled ? PassOutcome::kUnchangedSettled : PassOutcome::kUnchanged;

  auto valueOf = [&](std::size_t i) {
    const ValueSpan& v = b.values[i];
    return std::string_view(b.arena.data() + v.offset, v.len);
  };

  if (simple) {
    // No value holds a bracket and no reference sits inside an open `[`, so
    // no replacement can create or break another reference: every
    // occurrence of a reference text is one of the matches, and all of them
    // take the value of the first match with that text.
    std::size_t size = src.size();
    for (std::size_t i = 0; i < count; ++i) {
      size = size - b.matches[i].len + valueOf(b.firstIndex[i]).size();
    }
    if (size > ExpandedTextLimit()) {
      reportScriptError(ctx, Excerpt(cp, src.substr(b.matches[0].pos, b.matches[0].len)), msg::kExpansionTooLong);
      return PassOutcome::kTooLong;
    }
    std::string& out = b.out;
    out.clear();
    out.reserve(size);
    std::size_t pos = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const ReferenceMatch& m = b.matches[i];
      out.append(src, pos, m.pos - pos);
      out.append(valueOf(b.firstIndex[i]));
      pos = m.pos + m.len;
    }
    out.append(src, pos, std::string_view::npos);
    Commit(text, out);
    // Every reference of the new text would have been a reference of the old
    // one, and all of those are gone unless one kept its own text.
    return anyIdentity ? PassOutcome::kChanged : PassOutcome::kDone;
  }

  // The general case, one whole-text replacement per reference in order:
  // values may hold reference texts that later replacements reach.
  std::string* current = nullptr;  // nullptr: still the text as found
  std::string* spare = &b.out;
  std::string* other = &b.alt;
  // A reference text that a replacement found nowhere stays absent until a
  // later replacement changes the text, so its further matches need no
  // search: without this, a text with many matches of one reference would
  // be searched whole once per match.
  std::size_t changes = 0;
  b.absentAt.assign(count, std::numeric_limits<std::size_t>::max());
  for (std::size_t i = 0; i < count; ++i) {
    if (b.values[i].identity) continue;
    std::size_t& absentAt = b.absentAt[b.firstIndex[i]];
    if (absentAt == changes) continue;
    const ReferenceMatch& m = b.matches[i];
    const std::string_view ref = src.substr(m.pos, m.len);
    const std::string_view from = current ? std::string_view(*current) : src;
    bool replaced = false;
    if (!ReplaceAll(cp, from, ref, valueOf(i), *spare, replaced)) {
      reportScriptError(ctx, Excerpt(cp, ref), msg::kExpansionTooLong);
      return PassOutcome::kTooLong;
    }
    if (!replaced) {
      absentAt = changes;
      continue;
    }
    ++changes;
    std::string* done = spare;
    spare = current ? current : other;
    current = done;
  }
  if (!current) return PassOutcome::kUnchanged;
  Commit(text, *current);
  return PassOutcome::kChanged;
}

}  // namespace

std::size_t& ExpandedTextLimit() {
  thread_local std::size_t limit = kMaxExpandedTextSize;
  return limit;
}

void ExpandReferences(ScriptContext& ctx, std::string& text, int passCount) {
  // Every reference starts with a `[` byte; most texts (names, numbers) have none.
  if (text.find('[') == std::string::npos) return;
  BufferLease lease;
  for (int pass = std::max(passCount, 0);; ++pass) {
    const PassOutcome outcome = RunPass(ctx, text, lease.get());
    // A pass that found only variable and reserved references and changed
    // nothing would repeat itself exactly, so the remaining passes are skipped.
    if (outcome == PassOutcome::kNoReference || outcome == PassOutcome::kUnchangedSettled ||
        outcome == PassOutcome::kTooLong || outcome == PassOutcome::kDone) {
      return;
    }
    if (pass + 1 >= kMaxExpansionPasses) return;
  }
}

void EvaluateExpression(ScriptContext& ctx, std::string& text) {
  if (text.empty() || text.front() != '(' || text.back() != ')') return;
  double value = 0;
  if (!EvaluateArithmetic(text, value)) return;
  FormatFixed(value, EvaluationDecimals(ctx), text);
}

int EvaluationDecimals(ScriptContext& ctx) {
  std::string& accuracy = ctx.variables.Accuracy();
  if (accuracy.empty()) return 0;
  const std::string_view trimmed = CodePage::Trim(accuracy);
  if (trimmed.size() != accuracy.size()) accuracy = std::string(trimmed);
  if (accuracy.empty()) return 0;
  const long long wanted = LeadingInteger(accuracy);
  return static_cast<int>(std::clamp<long long>(wanted, 0, kMaxAccuracy));
}

void ExpandAndEvaluate(ScriptContext& ctx, std::string& text) {
  const ExpansionScope scope;
  ExpandReferences(ctx, text, 0);
  EvaluateExpression(ctx, text);
}

void ExecuteEval(ScriptContext&, const std::string&) {}

void ExecuteVar(ScriptContext& ctx, const std::string& text) {
  FirstWordSplit parts = splitFirstWord(text, {}, ctx.codePage());
  if (parts.head.size() <= 3) {
    reportScriptError(ctx, text, msg::kFormatError);
    return;
  }
  // The written form is `[#name]`; its frame is dropped without a check.
  std::string name = parts.head.substr(2, parts.head.size() - 3);
  ExpandAndEvaluate(ctx, name);
  std::string& value = parts.tail;
  ExpandAndEvaluate(ctx, value);
  std::string& slot = ctx.variables[name];
  if (slot.capacity() >= value.size()) {
    slot.assign(value);
  } else {
    slot.swap(value);
  }
}

}  // namespace velmar
