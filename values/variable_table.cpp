#include "values/variable_table.h"

#include <algorithm>
#include <charconv>

namespace velmar {

namespace {

// The number of a piece's name: `_` and a decimal number written as
// `split` writes it (no sign, no leading zero), else npos.
std::size_t PieceNumber(std::string_view name) {
  if (name.size() < 2 || name.size() > 21 || name[0] != '_') return std::string_view::npos;
  if (name[1] == '0' && name.size() > 2) return std::string_view::npos;
  std::size_t k = 0;
  const auto [end, ec] = std::from_chars(name.data() + 1, name.data() + name.size(), k);
  if (ec != std::errc() || end != name.data() + name.size()) return std::string_view::npos;
  return k;
}

// What the pieces from `start` on of `p` take, kept as a new text.
std::size_t TailBytes(const SplitPieces& p, std::size_t start) {
  return p.text.size() - p.Begin(start) + (p.count() - start) * sizeof(uint32_t);
}

std::shared_ptr<const SplitPieces> Tail(const SplitPieces& p, std::size_t start) {
  auto tail = std::make_shared<SplitPieces>();
  tail->first = p.first + start;
  const std::size_t from = p.Begin(start);
  tail->text.assign(p.text, from, std::string::npos);
  tail->ends.reserve(p.count() - start);
  for (std::size_t i = start; i < p.count(); ++i) {
    tail->ends.push_back(static_cast<uint32_t>(p.ends[i] - from));
  }
  AppendSlice(tail->spans, p.spans, from, p.text.size() - from, 0);
  return tail;
}

}  // namespace

std::size_t& VariableMemoryLimit() {
  thread_local std::size_t limit = kMaxVariableBytes;
  return limit;
}

std::string& VariableTable::Slot(std::string_view name) {
  auto it = map_.find(name);
  if (it != map_.end()) return it->second;
  if (!pieces_.empty()) {
    if (std::string* piece = TakePiece(name)) return *piece;
  }
  Count(name.size() + kVariableOverhead, 0);
  return map_.emplace(std::string(name), std::string()).first->second;
}

const std::string* VariableTable::Find(std::string_view name) const {
  auto it = map_.find(name);
  if (it != map_.end()) return &it->second;
  return pieces_.empty() ? nullptr : TakePiece(name);
}

std::string* VariableTable::TakePiece(std::string_view name) const {
  const std::size_t k = PieceNumber(name);
  if (k == std::string_view::npos) return nullptr;
  for (const auto& p : pieces_) {
    if (k >= p->first && k - p->first < p->count()) return &MakeEntry(*p, k - p->first, name);
  }
  return nullptr;
}

std::string& VariableTable::MakeEntry(const SplitPieces& p, std::size_t i, std::string_view name) const {
  std::string& slot = map_.emplace(std::string(name), std::string(p.Piece(i))).first->second;
  Count(name.size() + kVariableOverhead + slot.size(), 0);
  if (!p.spans.empty()) {
    ReceivedSpans spans = SliceSpans(p.spans, p.Begin(i), slot.size());
    if (!spans.empty()) received_[&slot] = std::move(spans);
  }
  return slot;
}

const std::map<std::string, std::string, std::less<>>& VariableTable::entries() const {
  std::string name = "_";
  for (const auto& p : pieces_) {
    for (std::size_t i = 0; i < p->count(); ++i) {
      name.resize(1);
      name += std::to_string(p->first + i);
      if (!map_.count(name)) MakeEntry(*p, i, name);
    }
    Count(0, p->Bytes());
  }
  pieces_.clear();
  return map_;
}

void VariableTable::SetReceived(std::string_view name, std::string value) {
  ReceivedSpans spans = WholeSpan(value.size());
  SetMarked(name, std::move(value), std::move(spans));
}

void VariableTable::SetMarked(std::string_view name, std::string value, ReceivedSpans spans) {
  std::string& slot = Slot(name);
  Count(value.size(), slot.size());
  if (slot.capacity() >= value.size() && value.size() < (std::size_t{1} << 20)) {
    slot.assign(value);
  } else {
    slot.swap(value);
  }
  if (spans.empty()) {
    if (!received_.empty()) Forget(&slot);
  } else {
    received_[&slot] = std::move(spans);
  }
}

bool VariableTable::Assign(std::string_view name, std::string& value, ReceivedSpans spans) {
  std::string& slot = Slot(name);
  if (value.size() > slot.size() && bytes_ + (value.size() - slot.size()) > limit_) {
    return false;
  }
  Count(value.size(), slot.size());
  if (slot.capacity() >= value.size()) {
    slot.assign(value);
  } else {
    slot.swap(value);
  }
  if (spans.empty()) {
    if (!received_.empty()) Forget(&slot);
  } else {
    received_[&slot] = std::move(spans);
  }
  return true;
}

bool VariableTable::StorePieces(SplitPieces pieces) {
  const std::size_t n = pieces.count();
  // What the table takes afterwards: older pieces that the new ones cover go.
  std::size_t after = bytes_ + pieces.Bytes();
  for (const auto& p : pieces_) {
    after -= std::min(after, p->Bytes());
    if (p->first + p->count() > n) after += TailBytes(*p, p->first >= n ? 0 : n - p->first);
  }
  if (after > limit_) return false;

  // Pieces that are map entries already take their new values in place:
  // statements prepared earlier hold their slots.
  const auto end = map_.lower_bound(std::string_view("`"));  // the byte after '_'
  for (auto it = map_.lower_bound(std::string_view("_")); it != end; ++it) {
    const std::size_t k = PieceNumber(it->first);
    if (k >= n) continue;
    std::string& slot = it->second;
    const std::string_view piece = pieces.Piece(k);
    Count(piece.size(), slot.size());
    slot.assign(piece);
    ReceivedSpans spans;
    if (!pieces.spans.empty()) spans = SliceSpans(pieces.spans, pieces.Begin(k), piece.size());
    if (spans.empty()) {
      if (!received_.empty()) Forget(&slot);
    } else {
      received_[&slot] = std::move(spans);
    }
  }

  std::vector<std::shared_ptr<const SplitPieces>> kept;
  for (auto& p : pieces_) {
    Count(0, p->Bytes());
    if (p->first + p->count() <= n) continue;
    if (p->first < n) p = Tail(*p, n - p->first);
    Count(p->Bytes(), 0);
    kept.push_back(std::move(p));
  }
  // Kept for as long as the pieces are not all read: no growth reserve.
  pieces.text.shrink_to_fit();
  pieces.ends.shrink_to_fit();
  Count(pieces.Bytes(), 0);
  kept.push_back(std::make_shared<const SplitPieces>(std::move(pieces)));
  pieces_ = std::move(kept);
  return true;
}

void VariableTable::CopyMarks(const VariableTable& other) {
  for (const auto& [name, value] : other.map_) {
    if (const ReceivedSpans* spans = other.ReceivedOf(&value)) received_[&map_.find(name)->second] = *spans;
  }
}

}  // namespace velmar
