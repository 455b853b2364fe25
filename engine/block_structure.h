#pragma once
// The block structure of a command list, resolved once when a program is
// loaded, so that the executor finds the end of a block, the arms of a
// `switch` and the head of a loop in constant time instead of scanning.
//
// Blocks are matched the way the language always matched them: counting `{`
// and `}` from the statement after a block's owner, whatever that statement
// is. A block never closed, a stray `}` and a `switch` without its `{` keep
// the meaning this counting gives them.

#include <cstdint>
#include <vector>

namespace velmar {

struct ScriptCommand;

class BlockStructure {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  BlockStructure() = default;
  // Resolves the structure of `commands` up to and including `last`.
  BlockStructure(const std::vector<ScriptCommand>& commands, uint32_t last);

  // True when the tables were made for this many commands and this last
  // index (a program built by hand has none).
  bool Covers(std::size_t size, uint32_t last) const {
    return size_ == size && last_ == last && size != 0;
  }

  // Counting from p + 1 with depth 1, the index where the depth first
  // reaches 0; kNone when it never does up to the last index. For a `{` at
  // p, its matching `}`.
  uint32_t CloseAfter(uint32_t p) const { return p < close_.size() ? close_[p] : kNone; }

  // The index after the block owned by the statement at a (its `{` taken to
  // be at a + 1); a + 2 when the block has no matching `}` before the last
  // index.
  uint32_t BlockEnd(uint32_t a) const {
    const uint32_t j = CloseAfter(a + 1);
    return j != kNone && j < last_ ? j + 1 : a + 2;
  }

  // The first `case` or `default` at the top level of the block of the
  // `switch` at s, then the one after each: kNone past the last. Every arm
  // lies before the switch block's `}` (CloseAfter(s + 1)).
  uint32_t FirstArm(uint32_t s) const { return s + 1 < firstArm_.size() ? firstArm_[s + 1] : kNone; }
  uint32_t NextArm(uint32_t k) const { return k < nextArm_.size() ? nextArm_[k] : kNone; }

 private:
  std::size_t size_ = 0;
  uint32_t last_ = 0;
  std::vector<uint32_t> close_;
  // firstArm_[p]: the first arm after p at p's depth before that depth ends;
  // nextArm_[k]: the same for the arm at k.
  std::vector<uint32_t> firstArm_;
  std::vector<uint32_t> nextArm_;
};

}  // namespace velmar
