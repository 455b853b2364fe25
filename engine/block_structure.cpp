#include "engine/block_structure.h"

#include <utility>

#include "engine/keyword_table.h"
#include "engine/script_program.h"

namespace velmar {

BlockStructure::BlockStructure(const std::vector<ScriptCommand>& commands, uint32_t last)
    : size_(commands.size()), last_(last) {
  if (commands.empty()) return;
  if (last_ >= commands.size()) last_ = static_cast<uint32_t>(commands.size() - 1);
  const std::size_t n = std::size_t{last_} + 1;

  // depth[j]: the `{` minus the `}` up to and including j. A scan from p + 1
  // with depth 1 reaches 0 exactly where this first falls below depth[p],
  // and it moves by at most one per command, so that is where it first
  // equals depth[p] - 1.
  std::vector<int32_t> depth(n);
  int32_t d = 0;
  for (std::size_t j = 0; j < n; ++j) {
    if (commands[j].id == stmt::kBlockOpen) ++d;
    if (commands[j].id == stmt::kBlockClose) --d;
    depth[j] = d;
  }

  close_.assign(n, kNone);
  firstArm_.assign(n, kNone);
  nextArm_.assign(n, kNone);
  // Walking backwards: `lower` holds the indexes whose depth is below all
  // that follow them (the next smaller depth of each index is its top);
  // `arms` holds, by rising depth, the nearest arm still reachable at that
  // depth from the current index, that is with no lower depth between.
  std::vector<uint32_t> lower;
  std::vector<std::pair<int32_t, uint32_t>> arms;
  for (std::size_t jj = n; jj-- > 0;) {
    const auto j = static_cast<uint32_t>(jj);
    const int32_t level = depth[j];
    while (!lower.empty() && depth[lower.back()] >= level) lower.pop_back();
    if (!lower.empty()) close_[j] = lower.back();
    lower.push_back(j);

    while (!arms.empty() && arms.back().first > level) arms.pop_back();
    if (!arms.empty() && arms.back().first == level) firstArm_[j] = arms.back().second;
    const int32_t id = commands[j].id;
    if (id == stmt::kCase || id == stmt::kDefault) {
      nextArm_[j] = firstArm_[j];
      if (!arms.empty() && arms.back().first == level) {
        arms.back().second = j;
      } else {
        arms.emplace_back(level, j);
      }
    }
  }
}

}  // namespace velmar
