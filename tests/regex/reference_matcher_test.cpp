// The engine against a tiny reference matcher written the other way round:
// random pattern trees are printed in the dialect for the engine and matched
// directly, by recursion with continuations, by the reference. Both must
// agree on whether and where a pattern matches and on every group.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>

#include "regex_test_util.h"

namespace velmar::testing {
namespace {

enum class Kind { kChar, kAny, kClass, kCapture, kParen, kNot, kBackRef, kSeq, kAlt, kRepeat };

struct Node {
  Kind kind = Kind::kSeq;
  char c = 0;         // kChar; kRepeat: '*', '+' or '?'
  std::string set;    // kClass members
  bool flag = false;  // kClass: negated; kRepeat: lazy
  int group = 0;      // kCapture, kBackRef
  std::vector<std::shared_ptr<Node>> kids;
};
using NodePtr = std::shared_ptr<Node>;
using Cont = std::function<bool(int)>;

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

class Reference {
 public:
  Reference(const std::string& text, int groups) : groups_(groups, {-1, -1}), t_(text) {}
  std::vector<std::pair<int, int>> groups_;  // start and end; -1 when unset

  bool M(const NodePtr& n, int pos, const Cont& k) {
    const int len = static_cast<int>(t_.size());
    switch (n->kind) {
      case Kind::kChar:
        return pos < len && Lower(t_[pos]) == n->c && k(pos + 1);
      case Kind::kAny:
        return pos < len && k(pos + 1);
      case Kind::kClass:
        return pos < len && (n->set.find(Lower(t_[pos])) != std::string::npos) != n->flag &&
               k(pos + 1);
      case Kind::kCapture: {
        const auto saved = groups_[n->group];
        groups_[n->group] = {pos, -1};
        if (M(n->kids[0], pos, [&](int p) { return groups_[n->group].second = p, k(p); })) {
          return true;
        }
        groups_[n->group] = saved;
        return false;
      }
      case Kind::kParen:
        return M(n->kids[0], pos, k);
      case Kind::kNot: {
        const auto saved = groups_;
        const bool matched = M(n->kids[0], pos, [](int) { return true; });
        groups_ = saved;
        return !matched && k(pos);
      }
      case Kind::kBackRef: {
        const auto [s, e] = groups_[n->group];
        if (s < 0 || e <= s) return k(pos);
        for (int i = 0; i < e - s; ++i) {
          if (pos + i >= len || Lower(t_[pos + i]) != Lower(t_[s + i])) return false;
        }
        return k(pos + e - s);
      }
      case Kind::kSeq:
        return Seq(n, 0, pos, k);
      case Kind::kAlt:
        return M(n->kids[0], pos, k) || M(n->kids[1], pos, k);
      case Kind::kRepeat:
        return Repeat(n, pos, k, n->c == '+');
    }
    return false;
  }

 private:
  bool Seq(const NodePtr& n, std::size_t i, int pos, const Cont& k) {
    if (i == n->kids.size()) return k(pos);
    return M(n->kids[i], pos, [&](int p) { return Seq(n, i + 1, p, k); });
  }

  // Greedy repetitions must make progress; `?` takes at most one.
  bool Repeat(const NodePtr& n, int pos, const Cont& k, bool mandatory) {
    const bool once = n->c == '?';
    auto more = [&](int p) { return once ? k(p) : Repeat(n, p, k, false); };
    if (mandatory) return M(n->kids[0], pos, more);
    if (n->flag) return k(pos) || M(n->kids[0], pos, more);
    return M(n->kids[0], pos, [&](int p) { return p != pos && more(p); }) || k(pos);
  }

  const std::string& t_;
};

// Random trees over a small alphabet, printed in the dialect.
class Generator {
 public:
  explicit Generator(uint32_t seed) : rng_(seed) {}

  NodePtr Pattern() {
    groups_ = 0;
    closed_.clear();
    emptyRepetition_ = false;
    return Sequence(3);
  }
  int groups() const { return groups_; }
  bool emptyRepetition() const { return emptyRepetition_; }

  static std::string Print(const NodePtr& n) {
    std::string s;
    switch (n->kind) {
      case Kind::kChar:
        return std::string(1, n->c == 'a' ? 'A' : n->c);  // case folds
      case Kind::kAny:
        return ".";
      case Kind::kClass:
        return "[" + std::string(n->flag ? "^" : "") + n->set + "]";
      case Kind::kCapture:
        return "{" + Print(n->kids[0]) + "}";
      case Kind::kParen:
        return "(" + Print(n->kids[0]) + ")";
      case Kind::kNot:
        return "!" + Print(n->kids[0]);
      case Kind::kBackRef:
        return "\\" + std::to_string(n->group);
      case Kind::kAlt:
        return Print(n->kids[0]) + "|" + Print(n->kids[1]);
      case Kind::kRepeat:
        return Print(n->kids[0]) + n->c + (n->flag ? "?" : "");
      case Kind::kSeq:
        for (const auto& k : n->kids) s += Print(k);
        return s;
    }
    return s;
  }

  std::string Text() {
    std::string s(static_cast<std::size_t>(Pick(7)), ' ');
    for (char& c : s) c = "abBc"[Pick(4)];
    return s;
  }

 private:
  // Able to match empty, by the dialect's rule for repetitions.
  static bool Empty(const NodePtr& n) {
    switch (n->kind) {
      case Kind::kChar:
      case Kind::kAny:
      case Kind::kClass:
        return false;
      case Kind::kSeq:
        for (const auto& k : n->kids) {
          if (!Empty(k)) return false;
        }
        return true;
      case Kind::kAlt:
        return Empty(n->kids[0]) || Empty(n->kids[1]);
      case Kind::kRepeat:
        return n->c != '+' || n->flag || Empty(n->kids[0]);
      case Kind::kCapture:
      case Kind::kParen:
        return Empty(n->kids[0]);
      default:
        return true;  // negations and back-references
    }
  }

  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  NodePtr Make(Kind kind, std::vector<NodePtr> kids = {}) {
    auto n = std::make_shared<Node>();
    n->kind = kind;
    n->kids = std::move(kids);
    return n;
  }

  NodePtr Sequence(int depth) {
    auto seq = Make(Kind::kSeq);
    for (int i = Pick(4); i > 0; --i) {
      NodePtr unit = Quantified(depth);
      if (Pick(4) == 0) unit = Make(Kind::kAlt, {unit, Quantified(depth)});
      seq->kids.push_back(unit);
    }
    return seq;
  }

  NodePtr Quantified(int depth) {
    NodePtr atom = Atom(depth);
    if (Pick(3) != 0) return atom;
    auto rep = Make(Kind::kRepeat, {atom});
    rep->c = "*+?"[Pick(3)];
    rep->flag = Pick(3) == 0;
    if (rep->c != '?' && Empty(atom)) emptyRepetition_ = true;
    return rep;
  }

  NodePtr Atom(int depth) {
    switch (Pick(depth > 0 ? 9 : 4)) {
      case 0:
      case 1: {
        auto n = Make(Kind::kChar);
        n->c = "abc"[Pick(3)];
        return n;
      }
      case 2:
        return Make(Kind::kAny);
      case 3: {
        auto n = Make(Kind::kClass);
        n->flag = Pick(2) == 0;
        n->set = Pick(2) ? "ab" : "c";
        return n;
      }
      case 4:
      case 5: {
        auto n = Make(Kind::kCapture);
        n->group = groups_++;
        n->kids = {Sequence(depth - 1)};
        closed_.push_back(n->group);
        return n;
      }
      case 6:
        return Make(Kind::kParen, {Sequence(depth - 1)});
      case 7:
        return Make(Kind::kNot, {Atom(depth - 1)});
      default: {
        if (closed_.empty()) return Make(Kind::kAny);
        auto n = Make(Kind::kBackRef);
        n->group = closed_[static_cast<std::size_t>(Pick(static_cast<int>(closed_.size())))];
        return n;
      }
    }
  }

  std::mt19937 rng_;
  int groups_ = 0;
  std::vector<int> closed_;  // groups whose closing brace is already written
  bool emptyRepetition_ = false;
};

TEST(RegExpReference, EngineAgreesWithTheReferenceOnGeneratedPatterns) {
  Generator gen(20261208);
  int compared = 0;
  int matched = 0;
  for (int round = 0; round < 4000; ++round) {
    const NodePtr tree = gen.Pattern();
    const std::string pattern = Generator::Print(tree);
    RegExpProgram program;
    const int code = static_cast<int>(Compile(program, std::u16string_view(U16(pattern))));
    ASSERT_EQ(code, gen.emptyRepetition() ? 9 : 0) << pattern;
    if (code != 0) continue;
    ASSERT_EQ(program.groupCount, gen.groups()) << pattern;
    RegExpMatch m;
    for (int i = 0; i < 6; ++i, ++compared) {
      const std::string text = gen.Text();
      const std::u16string t = U16(text);
      const bool got = Match(program, m, t);
      Reference ref(text, gen.groups());
      int start = -1;
      int end = -1;
      for (int s = 0; s <= static_cast<int>(text.size()) && start < 0; ++s) {
        if (ref.M(tree, s, [&](int e) { return end = e, true; })) start = s;
      }
      ASSERT_EQ(got, start >= 0) << pattern << " on " << text;
      if (!got) continue;
      ++matched;
      ASSERT_EQ(m.matchStart, start) << pattern << " on " << text;
      ASSERT_EQ(m.matchEnd, end) << pattern << " on " << text;
      for (int g = 0; g < gen.groups(); ++g) {
        const auto [s, e] = ref.groups_[static_cast<std::size_t>(g)];
        ASSERT_EQ(U8(m.Group(t, g)), s >= 0 && e >= s ? text.substr(s, e - s) : "")
            << pattern << " on " << text << " group " << g;
      }
    }
  }
  // Both outcomes must be common, or the comparison says little.
  EXPECT_GT(compared, 10000);
  EXPECT_GT(matched, compared / 5);
  EXPECT_LT(matched, compared);
}

}  // namespace
}  // namespace velmar::testing
