// The engine against a tiny reference matcher written the other way round:
// random pattern trees are printed in the dialect for the engine and matched
// directly, by recursion with continuations, by the reference. Both must
// agree on whether and where a pattern matches and on every group.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "regex_test_util.h"

namespace velmar::testing {
namespace {

struct Node;
using NodePtr = std::shared_ptr<Node>;

enum class Kind { kChar, kAny, kClass, kCapture, kParen, kNot, kBackRef, kSeq, kAlt, kRepeat };

struct Node {
  Kind kind = Kind::kChar;
  char c = 0;                // kChar
  std::string set;           // kClass: the members
  bool negated = false;      // kClass
  int group = 0;             // kCapture, kBackRef
  std::vector<NodePtr> kids;  // kSeq: units; kAlt: two; others: one
  char quant = 0;            // kRepeat: '*', '+', '?'
  bool lazy = false;         // kRepeat
};

using Groups = std::vector<std::pair<int, int>>;
using Cont = std::function<bool(int)>;

class Reference {
 public:
  Reference(const std::string& text, int groupCount) : t_(text), groups_(groupCount, {-1, -1}) {}

  static char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

  bool M(const NodePtr& n, int pos, const Cont& k) {
    const int len = static_cast<int>(t_.size());
    switch (n->kind) {
      case Kind::kChar:
        return pos < len && Lower(t_[pos]) == n->c && k(pos + 1);
      case Kind::kAny:
        return pos < len && k(pos + 1);
      case Kind::kClass: {
        if (pos >= len) return false;
        const bool in = n->set.find(Lower(t_[pos])) != std::string::npos;
        return in != n->negated && k(pos + 1);
      }
      case Kind::kCapture: {
        auto& g = groups_[n->group];
        const auto saved = g;
        g = {pos, -1};
        const bool ok = M(n->kids[0], pos, [&](int p) {
          groups_[n->group].second = p;
          return k(p);
        });
        if (!ok) groups_[n->group] = saved;
        return ok;
      }
      case Kind::kParen:
        return M(n->kids[0], pos, k);
      case Kind::kNot: {
        // Groups inside a negation never keep what they saw there.
        const Groups saved = groups_;
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
        return k(pos + (e - s));
      }
      case Kind::kSeq:
        return Seq(n, 0, pos, k);
      case Kind::kAlt:
        return M(n->kids[0], pos, k) || M(n->kids[1], pos, k);
      case Kind::kRepeat:
        return Repeat(n, pos, k, n->quant == '+');
    }
    return false;
  }

  Groups groups() const { return groups_; }

 private:
  bool Seq(const NodePtr& n, std::size_t i, int pos, const Cont& k) {
    if (i == n->kids.size()) return k(pos);
    return M(n->kids[i], pos, [&](int p) { return Seq(n, i + 1, p, k); });
  }

  // One more repetition must make progress (greedy forms only); `?` takes
  // at most one.
  bool Repeat(const NodePtr& n, int pos, const Cont& k, bool mandatory) {
    const NodePtr& a = n->kids[0];
    if (mandatory) return M(a, pos, [&](int p) { return Repeat(n, p, k, false); });
    const bool once = n->quant == '?';
    if (n->lazy) {
      if (k(pos)) return true;
      return M(a, pos, [&](int p) { return once ? k(p) : Repeat(n, p, k, false); });
    }
    if (M(a, pos, [&](int p) { return p != pos && (once ? k(p) : Repeat(n, p, k, false)); })) {
      return true;
    }
    return k(pos);
  }

  const std::string& t_;
  Groups groups_;
};

// Builds random trees over a small alphabet and prints them in the dialect.
class Generator {
 public:
  explicit Generator(uint32_t seed) : rng_(seed) {}

  NodePtr Pattern() {
    groups_ = 0;
    closed_.clear();
    return Sequence(3);
  }
  int groups() const { return groups_; }

  static std::string Print(const NodePtr& n) {
    switch (n->kind) {
      case Kind::kChar: return std::string(1, n->c == 'a' ? 'A' : n->c);  // case folds
      case Kind::kAny: return ".";
      case Kind::kClass: return "[" + std::string(n->negated ? "^" : "") + n->set + "]";
      case Kind::kCapture: return "{" + Print(n->kids[0]) + "}";
      case Kind::kParen: return "(" + Print(n->kids[0]) + ")";
      case Kind::kNot: return "!" + Print(n->kids[0]);
      case Kind::kBackRef: return "\\" + std::to_string(n->group);
      case Kind::kSeq: {
        std::string s;
        for (const auto& k : n->kids) s += Print(k);
        return s;
      }
      case Kind::kAlt: return Print(n->kids[0]) + "|" + Print(n->kids[1]);
      case Kind::kRepeat:
        return Print(n->kids[0]) + std::string(1, n->quant) + (n->lazy ? "?" : "");
    }
    return {};
  }

  // Able to match empty, by the dialect's rule for repetitions.
  static bool Empty(const NodePtr& n) {
    switch (n->kind) {
      case Kind::kChar:
      case Kind::kAny:
      case Kind::kClass: return false;
      case Kind::kNot:
      case Kind::kBackRef: return true;
      case Kind::kCapture:
      case Kind::kParen: return Empty(n->kids[0]);
      case Kind::kSeq:
        for (const auto& k : n->kids) {
          if (!Empty(k)) return false;
        }
        return true;
      case Kind::kAlt: return Empty(n->kids[0]) || Empty(n->kids[1]);
      case Kind::kRepeat: return n->quant != '+' || n->lazy || Empty(n->kids[0]);
    }
    return true;
  }

  static bool HasEmptyRepetition(const NodePtr& n) {
    if (n->kind == Kind::kRepeat && n->quant != '?' && Empty(n->kids[0])) return true;
    for (const auto& k : n->kids) {
      if (HasEmptyRepetition(k)) return true;
    }
    return false;
  }

  std::string Text() {
    std::string s;
    const int len = Pick(7);
    for (int i = 0; i < len; ++i) s.push_back("abBc"[Pick(4)]);
    return s;
  }

 private:
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  NodePtr Make(Kind kind) {
    auto n = std::make_shared<Node>();
    n->kind = kind;
    return n;
  }

  NodePtr Sequence(int depth) {
    auto seq = Make(Kind::kSeq);
    const int units = Pick(4);
    for (int i = 0; i < units; ++i) {
      NodePtr unit = Quantified(depth);
      // `a|b|c` chains to the right, as the dialect reads it.
      if (Pick(4) == 0) {
        auto alt = Make(Kind::kAlt);
        alt->kids = {unit, Quantified(depth)};
        unit = alt;
      }
      seq->kids.push_back(unit);
    }
    return seq;
  }

  NodePtr Quantified(int depth) {
    NodePtr atom = Atom(depth);
    if (Pick(3) != 0) return atom;
    auto rep = Make(Kind::kRepeat);
    rep->quant = "*+?"[Pick(3)];
    rep->lazy = Pick(3) == 0;
    rep->kids = {atom};
    return rep;
  }

  NodePtr Atom(int depth) {
    const int choice = Pick(depth > 0 ? 9 : 4);
    switch (choice) {
      case 0:
      case 1: {
        auto n = Make(Kind::kChar);
        n->c = "abc"[Pick(3)];
        return n;
      }
      case 2: return Make(Kind::kAny);
      case 3: {
        auto n = Make(Kind::kClass);
        n->negated = Pick(2) == 0;
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
      case 6: {
        auto n = Make(Kind::kParen);
        n->kids = {Sequence(depth - 1)};
        return n;
      }
      case 7: {
        auto n = Make(Kind::kNot);
        n->kids = {Atom(depth - 1)};
        return n;
      }
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
};

TEST(RegExpReference, EngineAgreesWithTheReferenceOnGeneratedPatterns) {
  Generator gen(20261208);
  int compared = 0;
  int matched = 0;
  for (int round = 0; round < 4000; ++round) {
    const NodePtr tree = gen.Pattern();
    const int groupCount = gen.groups();
    const std::string pattern = Generator::Print(tree);
    RegExpProgram program;
    const std::u16string p = U16(pattern);
    const int code = Compile(program, std::u16string_view(p));
    const bool emptyRepetition = Generator::HasEmptyRepetition(tree);
    ASSERT_EQ(code, emptyRepetition ? 9 : 0) << pattern;
    if (code != 0) continue;
    ASSERT_EQ(program.groupCount, groupCount) << pattern;
    RegExpMatch m;
    for (int i = 0; i < 6; ++i) {
      const std::string text = gen.Text();
      const std::u16string t = U16(text);
      const bool got = Match(program, m, t);

      Reference ref(text, groupCount);
      int refStart = -1;
      int refEnd = -1;
      for (int s = 0; s <= static_cast<int>(text.size()); ++s) {
        if (ref.M(tree, s, [&](int e) {
              refEnd = e;
              return true;
            })) {
          refStart = s;
          break;
        }
      }
      ++compared;
      ASSERT_EQ(got, refStart >= 0) << pattern << " on " << text;
      if (!got) continue;
      ++matched;
      ASSERT_EQ(m.matchStart, refStart) << pattern << " on " << text;
      ASSERT_EQ(m.matchEnd, refEnd) << pattern << " on " << text;
      const Groups groups = ref.groups();
      for (int g = 0; g < groupCount; ++g) {
        const auto [s, e] = groups[static_cast<std::size_t>(g)];
        const std::string want = (s >= 0 && e >= s) ? text.substr(s, e - s) : std::string();
        ASSERT_EQ(U8(m.Group(t, g)), want) << pattern << " on " << text << " group " << g;
      }
    }
  }
  // The generator must exercise both outcomes, or the comparison says little.
  EXPECT_GT(compared, 10000);
  EXPECT_GT(matched, compared / 5);
  EXPECT_LT(matched, compared);
}

}  // namespace
}  // namespace velmar::testing
