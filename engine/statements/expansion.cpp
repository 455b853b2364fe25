#include "engine/statements/expansion.h"

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
#include "values/received_text.h"
#include "values/reference_scanner.h"
#include "values/text_file_ops.h"

namespace velmar {

namespace {

// Where a pass keeps its values: one shared text with a span per reference.
struct ValueSpan {
  std::size_t offset = 0;
  std::size_t len = 0;
  bool identity = false;  // the value is the reference text itself
  // Its received spans: marks[markBegin, markEnd) of the pass, counted from
  // the value's start.
  std::size_t markBegin = 0;
  std::size_t markEnd = 0;
};

struct PassBuffers {
  std::vector<ReferenceMatch> matches;
  std::vector<ReferenceMatch> formed;  // in the rewritten text
  std::vector<char> replacedText;      // per first match: some match of its text changes
  std::vector<ValueSpan> values;
  std::vector<std::size_t> firstIndex;  // first match with the same text
  std::vector<std::size_t> absentAt;    // per first match: see the general case
  std::unordered_map<std::string_view, std::size_t> seen;
  std::string arena;
  std::string out;
  std::string alt;
  ReceivedSpans marks;      // of the values, see ValueSpan
  ReceivedSpans nameMarks;  // of the name part being read
  ReceivedSpans refMarks;   // of the reference being replaced
  ReceivedSpans value;      // of one value as it is read
  ReceivedSpans outMarks;
  ReceivedSpans altMarks;
  bool busy = false;
  bool marksUsed = false;  // some span buffer may have grown since the last Trim

  void Trim() {
    // Keep the buffers of ordinary texts, give back the memory of huge ones.
    constexpr std::size_t kKeep = std::size_t{1} << 20;
    if (arena.capacity() > kKeep) std::string().swap(arena);
    if (out.capacity() > kKeep) std::string().swap(out);
    if (alt.capacity() > kKeep) std::string().swap(alt);
    // Most texts are the script's own and never touch the span buffers;
    // checking them after every expansion would cost as much as the pass.
    if (!marksUsed) return;
    marksUsed = false;
    constexpr std::size_t kKeepMarks = 4096;
    if (marks.capacity() > kKeepMarks) ReceivedSpans().swap(marks);
    if (outMarks.capacity() > kKeepMarks) ReceivedSpans().swap(outMarks);
    if (altMarks.capacity() > kKeepMarks) ReceivedSpans().swap(altMarks);
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

// Appends the value of a reference to `out` and its received spans, counted
// from the value's start, to `marks`. `textMarks` are those of the text.
void AppendReferenceValue(ScriptContext& ctx, const ReferenceMatch& m, std::string_view text,
                          const ReceivedSpans& textMarks, PassBuffers& b, std::string& out,
                          ReceivedSpans& marks) {
  const std::string_view name = m.NamePart(text);
  marks.clear();
  // Under `expandreceived=1` received text is expanded as the script's own.
  const bool keepMarks = !ctx.env->expandReceived;
  if (m.sigil == '#') {
    const std::string& value = ctx.variables.Slot(name);
    if (keepMarks) {
      if (const ReceivedSpans* received = ctx.variables.ReceivedOf(&value)) marks = *received;
    }
    out += value;
    return;
  }
  b.nameMarks.clear();
  AppendSlice(b.nameMarks, textMarks, m.pos + 2, m.len - 3, 0);
  if (!ReadReference(ctx, m.sigil, name, b.nameMarks, out, marks)) {
    // `!` is reserved: the reference stays as it is, received parts and all.
    out.append(text.substr(m.pos, m.len));
    AppendSlice(marks, textMarks, m.pos, m.len, 0);
  }
  if (!keepMarks) marks.clear();
}

bool HasBracket(std::string_view v) {
  bool found = false;
  for (const char c : v) found |= (c == '[') | (c == ']');
  return found;
}

// A bracket that is the script's own, outside the received spans.
bool HasVisibleBracket(std::string_view v, const ReceivedSpan* marks, std::size_t count) {
  std::size_t pos = 0;
  for (std::size_t i = 0; i <= count; ++i) {
    const std::size_t end = i < count ? marks[i].pos : v.size();
    if (HasBracket(v.substr(pos, end - pos))) return true;
    if (i < count) pos = marks[i].pos + marks[i].len;
  }
  return false;
}

// Whether the spans of src within [pos, pos + len) are exactly `marks`.
bool MarksEqualAt(const ReceivedSpans& src, std::size_t pos, std::size_t len,
                  const ReceivedSpans& marks) {
  auto it = std::partition_point(src.begin(), src.end(),
                                 [pos](const ReceivedSpan& s) { return s.pos + s.len <= pos; });
  const std::size_t end = pos + len;
  std::size_t k = 0;
  for (; it != src.end() && it->pos < end; ++it, ++k) {
    if (k >= marks.size()) return false;
    const std::size_t from = std::max(it->pos, pos);
    const std::size_t to = std::min(it->pos + it->len, end);
    if (marks[k].pos != from - pos || marks[k].len != to - from) return false;
  }
  return k == marks.size();
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

// ReplaceAll over a text with received spans: an occurrence counts only
// where its received parts are exactly those of the reference (so never in
// the middle of received text), and the spans follow the text.
bool ReplaceAllMarked(const CodePage& cp, std::string_view src, const ReceivedSpans& srcMarks,
                      std::string_view from, const ReceivedSpans& fromMarks, std::string_view to,
                      const ReceivedSpan* toMarks, std::size_t toMarkCount, std::string& dst,
                      ReceivedSpans& dstMarks, bool& replaced) {
  replaced = false;
  std::size_t pos = 0;
  std::size_t hit = cp.Find(src, from, 0);
  while (hit != std::string_view::npos) {
    if (!MarksEqualAt(srcMarks, hit, from.size(), fromMarks)) {
      hit = cp.Find(src, from, hit + cp.CharLength(src, hit));
      continue;
    }
    if (!replaced) {
      replaced = true;
      dst.clear();
      dstMarks.clear();
    }
    AppendSlice(dstMarks, srcMarks, pos, hit - pos, dst.size());
    dst.append(src, pos, hit - pos);
    if (dst.size() + to.size() + (src.size() - hit) > ExpandedTextLimit() + from.size()) {
      return false;
    }
    for (std::size_t k = 0; k < toMarkCount; ++k) {
      AppendSpan(dstMarks, toMarks[k].pos + dst.size(), toMarks[k].len);
    }
    dst.append(to);
    pos = hit + from.size();
    hit = cp.Find(src, from, pos);
  }
  if (!replaced) return true;
  AppendSlice(dstMarks, srcMarks, pos, src.size() - pos, dst.size());
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
  kDone,     // changed, and the new text holds no reference
  kStopped,  // the script is being stopped: the text is left as it is
};

// Writes the text with every match replaced at its place by the value of
// the first match with its text into b.out, with the received spans into
// b.outMarks. False, having reported it, when the result is too long.
bool RewriteAtMatches(ScriptContext& ctx, std::string_view src, const ReceivedSpans& marks,
                      PassBuffers& b) {
  const std::size_t count = b.matches.size();
  auto valueOf = [&](std::size_t i) {
    const ValueSpan& v = b.values[i];
    return std::string_view(b.arena.data() + v.offset, v.len);
  };
  std::size_t size = src.size();
  for (std::size_t i = 0; i < count; ++i) {
    size = size - b.matches[i].len + valueOf(b.firstIndex[i]).size();
  }
  if (size > ExpandedTextLimit()) {
    ctx.RaiseError(Excerpt(ctx.codePage(), src.substr(b.matches[0].pos, b.matches[0].len)),
                      msg::kExpansionTooLong);
    return false;
  }
  std::string& out = b.out;
  ReceivedSpans& outMarks = b.outMarks;
  b.marksUsed = true;
  out.clear();
  outMarks.clear();
  out.reserve(size);
  std::size_t pos = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const ReferenceMatch& m = b.matches[i];
    AppendSlice(outMarks, marks, pos, m.pos - pos, out.size());
    out.append(src, pos, m.pos - pos);
    const ValueSpan& v = b.values[b.firstIndex[i]];
    for (std::size_t k = v.markBegin; k < v.markEnd; ++k) {
      AppendSpan(outMarks, b.marks[k].pos + out.size(), b.marks[k].len);
    }
    out.append(valueOf(b.firstIndex[i]));
    pos = m.pos + m.len;
  }
  AppendSlice(outMarks, marks, pos, src.size() - pos, out.size());
  out.append(src, pos, std::string_view::npos);
  return true;
}

// Whether the text RewriteAtMatches made holds a reference with the text of
// a match this pass replaced. Only such a reference tells the one rewrite
// from the whole-text replacements in order: the first occurrence that a
// replacement in order reaches beyond the written matches (inside a value,
// or completed around an open `[`) has no bracket inside, so no later
// rewrite at a match touches it, and it is still in the rewritten text.
bool FormsReplacedReference(const CodePage& cp, std::string_view src, PassBuffers& b) {
  FindReferences(cp, b.out, b.outMarks, b.formed);
  if (b.formed.empty()) return false;
  const std::size_t count = b.matches.size();
  b.replacedText.assign(count, 0);
  for (std::size_t i = 0; i < count; ++i) {
    if (!b.values[i].identity) b.replacedText[b.firstIndex[i]] = 1;
  }
  const std::string_view out = b.out;
  for (const ReferenceMatch& f : b.formed) {
    const std::string_view ref = out.substr(f.pos, f.len);
    if (count > 8) {
      const auto it = b.seen.find(ref);
      if (it != b.seen.end() && b.replacedText[it->second]) return true;
      // Equal texts with other received parts have their own first match.
      if (it != b.seen.end()) {
        for (std::size_t i = 0; i < count; ++i) {
          if (b.replacedText[i] && b.firstIndex[i] == i && b.matches[i].len == f.len &&
              src.compare(b.matches[i].pos, f.len, ref) == 0) {
            return true;
          }
        }
      }
      continue;
    }
    for (std::size_t i = 0; i < count; ++i) {
      if (b.replacedText[i] && b.matches[i].len == f.len &&
          src.compare(b.matches[i].pos, f.len, ref) == 0) {
        return true;
      }
    }
  }
  return false;
}

// The pass's rewrite over a text or values with received parts; the same
// two ways as the plain one below it, carrying the spans along.
PassOutcome RewriteMarked(ScriptContext& ctx, std::string& text, ReceivedSpans& marks,
                          PassBuffers& b, bool simple, bool anyIdentity) {
  const CodePage& cp = ctx.codePage();
  const std::string_view src = text;
  const std::size_t count = b.matches.size();
  auto valueOf = [&](std::size_t i) {
    const ValueSpan& v = b.values[i];
    return std::string_view(b.arena.data() + v.offset, v.len);
  };
  if (simple) {
    if (!RewriteAtMatches(ctx, src, marks, b)) return PassOutcome::kTooLong;
    Commit(text, b.out);
    marks.swap(b.outMarks);
    return anyIdentity ? PassOutcome::kChanged : PassOutcome::kDone;
  }

  std::string* current = nullptr;  // nullptr: still the text as found
  ReceivedSpans* currentMarks = &marks;
  std::string* spare = &b.out;
  ReceivedSpans* spareMarks = &b.outMarks;
  std::string* other = &b.alt;
  ReceivedSpans* otherMarks = &b.altMarks;
  std::size_t changes = 0;
  b.absentAt.assign(count, std::numeric_limits<std::size_t>::max());
  for (std::size_t i = 0; i < count; ++i) {
    if (ctx.stop.requested()) return PassOutcome::kStopped;
    if (b.values[i].identity) continue;
    std::size_t& absentAt = b.absentAt[b.firstIndex[i]];
    if (absentAt == changes) continue;
    const ReferenceMatch& m = b.matches[i];
    const std::string_view ref = src.substr(m.pos, m.len);
    b.refMarks.clear();
    AppendSlice(b.refMarks, marks, m.pos, m.len, 0);
    const std::string_view from = current ? std::string_view(*current) : src;
    const ValueSpan& v = b.values[i];
    bool replaced = false;
    if (!ReplaceAllMarked(cp, from, *currentMarks, ref, b.refMarks, valueOf(i),
                          b.marks.data() + v.markBegin, v.markEnd - v.markBegin, *spare,
                          *spareMarks, replaced)) {
      ctx.RaiseError(Excerpt(cp, ref), msg::kExpansionTooLong);
      return PassOutcome::kTooLong;
    }
    if (!replaced) {
      absentAt = changes;
      continue;
    }
    ++changes;
    std::string* done = spare;
    ReceivedSpans* doneMarks = spareMarks;
    if (current) {
      spare = current;
      spareMarks = currentMarks;
    } else {
      spare = other;
      spareMarks = otherMarks;
    }
    current = done;
    currentMarks = doneMarks;
  }
  if (!current) return PassOutcome::kUnchanged;
  Commit(text, *current);
  if (currentMarks != &marks) marks.swap(*currentMarks);
  return PassOutcome::kChanged;
}

// The pass over the references found. kMarks is false when no received
// text can take part: the text has none, no variable holds any and every
// reference reads a variable. That is what nearly every statement expands,
// and without the span bookkeeping it costs what expansion cost before
// received text was told apart.
template <bool kMarks>
PassOutcome RunFoundPass(ScriptContext& ctx, std::string& text, ReceivedSpans& marks,
                         PassBuffers& b) {
  const CodePage& cp = ctx.codePage();
  const std::string_view src = text;
  const std::size_t count = b.matches.size();
  b.arena.clear();
  if constexpr (kMarks) {
    b.marks.clear();
    b.marksUsed = true;
  }
  b.values.resize(count);
  b.firstIndex.resize(count);
  const bool useMap = count > 8;
  if (useMap) b.seen.clear();
  // Received parts in the text itself, or in a value read this pass.
  bool marked = kMarks && !marks.empty();

  // Values are computed in the order found; they do not depend on the text,
  // only on the name parts and on what earlier values did (a `split` writes
  // variables that a later `[#_0]` of the same pass reads).
  bool simple = true;  // one left-to-right rewrite gives the exact result
  bool aligned = true;  // no value ends in a lone lead byte
  bool changed = false;
  bool settled = true;  // only variable and reserved references
  bool anyIdentity = false;
  for (std::size_t i = 0; i < count; ++i) {
    if (ctx.stop.requested()) return PassOutcome::kStopped;
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
    // Equal texts with received parts in different places are different
    // references (their calls split their arguments differently).
    if (kMarks && first != i && !marks.empty()) {
      b.refMarks.clear();
      AppendSlice(b.refMarks, marks, m.pos, m.len, 0);
      if (!MarksEqualAt(marks, b.matches[first].pos, m.len, b.refMarks)) first = i;
    }
    b.firstIndex[i] = first;
    const std::size_t offset = b.arena.size();
    std::size_t markBegin = 0;
    if constexpr (kMarks) {
      AppendReferenceValue(ctx, m, src, marks, b, b.arena, b.value);
      markBegin = b.marks.size();
      b.marks.insert(b.marks.end(), b.value.begin(), b.value.end());
      marked |= !b.value.empty();
    } else {
      b.arena += ctx.variables.Slot(m.NamePart(src));
    }
    ValueSpan span{offset, b.arena.size() - offset, false, markBegin, kMarks ? b.marks.size() : 0};
    const std::string_view value(b.arena.data() + offset, span.len);
    if (first != i) {
      const ValueSpan& earlier = b.values[first];
      if (value == std::string_view(b.arena.data() + earlier.offset, earlier.len) &&
          (!kMarks || std::equal(b.marks.begin() + markBegin, b.marks.end(),
                                 b.marks.begin() + earlier.markBegin,
                                 b.marks.begin() + earlier.markEnd))) {
        b.arena.resize(offset);
        if constexpr (kMarks) b.marks.resize(markBegin);
        span = earlier;
      } else {
        // A value that changed within the pass (a `split` rewrote the
        // variable): in order, this match may replace what the first left.
        simple = false;
      }
    }
    const std::string_view v(b.arena.data() + span.offset, span.len);
    span.identity = v == ref;
    if (kMarks && span.identity && marked) {
      // The same bytes with other received parts are another text.
      b.refMarks.clear();
      AppendSlice(b.refMarks, marks, m.pos, m.len, 0);
      span.identity = std::equal(b.refMarks.begin(), b.refMarks.end(), b.marks.begin() + span.markBegin,
                                 b.marks.begin() + span.markEnd);
    }
    anyIdentity |= span.identity;
    if (!span.identity) {
      changed = true;
      const bool bracket = !kMarks || span.markBegin == span.markEnd
                               ? HasBracket(v)
                               : HasVisibleBracket(v, b.marks.data() + span.markBegin,
                                                   span.markEnd - span.markBegin);
      const bool loneLead = EndsInLoneLeadByte(cp, v);
      if (bracket || loneLead) simple = false;
      if (loneLead) aligned = false;
    }
    b.values[i] = span;
    if (b.arena.size() > ExpandedTextLimit()) {
      ctx.RaiseError(Excerpt(cp, ref), msg::kExpansionTooLong);
      return PassOutcome::kTooLong;
    }
  }
  if (!changed) return settled ? PassOutcome::kUnchangedSettled : PassOutcome::kUnchanged;
  if (aligned && !simple) {
    // References inside an open `[`, or values with brackets: the one
    // rewrite still gives the exact result unless its text holds a reference
    // that a later replacement of the pass would have reached. That is rare,
    // and checking it keeps a text of many references behind a stray `[`
    // linear.
    if (!RewriteAtMatches(ctx, src, marks, b)) return PassOutcome::kTooLong;
    if (!FormsReplacedReference(cp, src, b)) {
      Commit(text, b.out);
      marks.swap(b.outMarks);
      return PassOutcome::kChanged;
    }
  }
  if constexpr (kMarks) {
    if (marked) return RewriteMarked(ctx, text, marks, b, simple, anyIdentity);
  }

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
      ctx.RaiseError(Excerpt(cp, src.substr(b.matches[0].pos, b.matches[0].len)), msg::kExpansionTooLong);
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
    if (ctx.stop.requested()) return PassOutcome::kStopped;
    if (b.values[i].identity) continue;
    std::size_t& absentAt = b.absentAt[b.firstIndex[i]];
    if (absentAt == changes) continue;
    const ReferenceMatch& m = b.matches[i];
    const std::string_view ref = src.substr(m.pos, m.len);
    const std::string_view from = current ? std::string_view(*current) : src;
    bool replaced = false;
    if (!ReplaceAll(cp, from, ref, valueOf(i), *spare, replaced)) {
      ctx.RaiseError(Excerpt(cp, ref), msg::kExpansionTooLong);
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

PassOutcome RunPass(ScriptContext& ctx, std::string& text, ReceivedSpans& marks, PassBuffers& b) {
  FindReferences(ctx.codePage(), text, marks, b.matches);
  if (b.matches.empty()) return PassOutcome::kNoReference;
  bool plain = marks.empty() && !ctx.variables.AnyReceived();
  for (std::size_t i = 0; plain && i < b.matches.size(); ++i) plain = b.matches[i].sigil == '#';
  return plain ? RunFoundPass<false>(ctx, text, marks, b) : RunFoundPass<true>(ctx, text, marks, b);
}

}  // namespace

std::size_t& ExpandedTextLimit() {
  thread_local std::size_t limit = kMaxExpandedTextSize;
  return limit;
}

namespace {

// The passes over a text that holds a `[`. Kept out of line so that the far
// more common text without one (a name, a number) returns before the frame
// the passes need is set up.
[[gnu::noinline]] void ExpandBracketedText(ScriptContext& ctx, std::string& text,
                                           ReceivedSpans& marks, int passCount) {
  BufferLease lease;
  for (int pass = std::max(passCount, 0);; ++pass) {
    const PassOutcome outcome = RunPass(ctx, text, marks, lease.get());
    // A pass that found only variable and reserved references and changed
    // nothing would repeat itself exactly, so the remaining passes are skipped.
    if (outcome == PassOutcome::kNoReference || outcome == PassOutcome::kUnchangedSettled ||
        outcome == PassOutcome::kTooLong || outcome == PassOutcome::kDone ||
        outcome == PassOutcome::kStopped) {
      return;
    }
    if (pass + 1 >= kMaxExpansionPasses) return;
  }
}

}  // namespace

void ExpandReferences(ScriptContext& ctx, std::string& text, int passCount) {
  if (text.find('[') == std::string::npos) return;
  ReceivedSpans marks;
  ExpandBracketedText(ctx, text, marks, passCount);
}

void ExpandMarkedReferences(ScriptContext& ctx, std::string& text, ReceivedSpans& marks,
                            int passCount) {
  // Every reference starts with a `[` byte; most texts (names, numbers) have none.
  if (text.find('[') == std::string::npos) return;
  ExpandBracketedText(ctx, text, marks, passCount);
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
  const ExpansionScope scope(ctx);
  ExpandReferences(ctx, text, 0);
  EvaluateExpression(ctx, text);
}

void ExpandAndEvaluate(ScriptContext& ctx, std::string& text, ReceivedSpans& marks) {
  ExpandMarkedReferences(ctx, text, marks, 0);
  if (text.empty() || text.front() != '(' || text.back() != ')') return;
  double value = 0;
  if (!EvaluateArithmetic(text, value)) return;
  FormatFixed(value, EvaluationDecimals(ctx), text);
  marks.clear();  // a computed number is the script's own
}

StatementResult ExecuteEval(ScriptContext&, const std::string&) {
  return StatementResult::Continue();
}

StatementResult ExecuteVar(ScriptContext& ctx, const std::string& text) {
  FirstWordSplit parts = splitFirstWord(text, {}, ctx.codePage());
  if (parts.head.size() <= 3) return ctx.Fail(text, msg::kFormatError);
  // The written form is `[#name]`; its frame is dropped without a check.
  std::string name = parts.head.substr(2, parts.head.size() - 3);
  // Nearly every name is written out; only one with a reference or in
  // parentheses can change, and the test is cheaper than the call.
  const bool plainName = std::none_of(name.begin(), name.end(), [](char c) { return c == '['; }) &&
                         !(name.size() >= 2 && name.front() == '(' && name.back() == ')');
  if (!plainName) ExpandAndEvaluate(ctx, name);
  std::string& value = parts.tail;
  ReceivedSpans marks;
  ExpandAndEvaluate(ctx, value, marks);
  if (!ctx.variables.Assign(name, value, std::move(marks))) {
    return ctx.Fail(name, msg::kVariablesTooLarge);
  }
  return StatementResult::Continue();
}

}  // namespace velmar
