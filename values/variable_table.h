#pragma once
// The script's variables: an ordered, case-sensitive map from name to text.
// Reading a name that is not there creates it with the empty text.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "values/received_text.h"

namespace velmar {

// The most memory the values of one script's variables may take: the
// manager runs many scripts in one process, and one that splits or stores
// without end must not take the machine from the others. A write past it is
// refused with "变量占用的内存超过1GB．" and the script ends after the
// statement, as with the expansion limit.
constexpr std::size_t kMaxVariableBytes = std::size_t{1} << 30;
// What a variable costs beyond its name and value (its map node and the two
// string headers), counted so that millions of tiny variables are seen too.
constexpr std::size_t kVariableOverhead = 96;
// The limit a variable table made on the calling thread applies: the
// constant above, lowered by tests.
std::size_t& VariableMemoryLimit();

// The pieces of one `split` as one text: a text of millions of pieces would
// take a map node, a name and a value per piece, so the pieces become
// variables of their own only when the script reads or writes one.
struct SplitPieces {
  std::size_t first = 0;       // the number of the first piece held (`_first`)
  std::string text;            // the pieces back to back
  std::vector<uint32_t> ends;  // where each piece ends in `text`
  ReceivedSpans spans;         // the received parts of `text`

  std::size_t count() const { return ends.size(); }
  std::size_t Begin(std::size_t i) const { return i == 0 ? 0 : ends[i - 1]; }
  std::string_view Piece(std::size_t i) const {
    return std::string_view(text).substr(Begin(i), ends[i] - Begin(i));
  }
  std::size_t Bytes() const { return text.size() + ends.size() * sizeof(uint32_t); }
  void Add(std::string_view piece) {
    text.append(piece);
    ends.push_back(static_cast<uint32_t>(text.size()));
  }
};

class VariableTable {
 public:
  VariableTable() = default;
  // Copies and moves forget the cached slot; it points into the source's map.
  VariableTable(const VariableTable& other)
      : map_(other.map_), pieces_(other.pieces_), bytes_(other.bytes_) {
    CopyMarks(other);
  }
  VariableTable(VariableTable&& other) noexcept
      : map_(std::move(other.map_)),
        received_(std::move(other.received_)),
        pieces_(std::move(other.pieces_)),
        bytes_(other.bytes_) {
    other.accuracy_ = nullptr;
    other.received_.clear();
    other.pieces_.clear();
    other.bytes_ = 0;
    ++other.epoch_;
  }
  VariableTable& operator=(const VariableTable& other) {
    map_ = other.map_;
    pieces_ = other.pieces_;
    bytes_ = other.bytes_;
    received_.clear();
    CopyMarks(other);
    accuracy_ = nullptr;
    ++epoch_;
    return *this;
  }
  VariableTable& operator=(VariableTable&& other) noexcept {
    map_ = std::move(other.map_);
    received_ = std::move(other.received_);
    pieces_ = std::move(other.pieces_);
    bytes_ = other.bytes_;
    other.received_.clear();
    other.pieces_.clear();
    other.bytes_ = 0;
    accuracy_ = nullptr;
    other.accuracy_ = nullptr;
    ++epoch_;
    ++other.epoch_;
    return *this;
  }

  // The value of a name for writing, creating it empty when missing. What is
  // written through it is the script's own text: the received mark goes.
  std::string& operator[](std::string_view name) {
    std::string& slot = Slot(name);
    if (!received_.empty()) Forget(&slot);
    return slot;
  }
  // The value for reading, marks kept.
  const std::string& Get(std::string_view name) { return Slot(name); }
  void Set(std::string_view name, std::string_view value) { (*this)[name].assign(value); }
  // The slot of a name, creating it empty, without touching its mark.
  std::string& Slot(std::string_view name);

  // Received text: the value came from outside, wholly or in the spans given.
  void SetReceived(std::string_view name, std::string value);
  void SetMarked(std::string_view name, std::string value, ReceivedSpans spans);
  // A write that counts against the memory limit: false, with the old value
  // kept, when the values would pass it. `value` is taken (swapped) when its
  // buffer is worth keeping. Statements prepared for their repeated turns
  // write into a kept slot uncounted: each holds one value of at most the
  // expansion's size, so they cannot grow memory without end.
  bool Assign(std::string_view name, std::string& value, ReceivedSpans spans = {});
  // The pieces of a `split` become `_0`, `_1`, ... (see SplitPieces); false,
  // with nothing stored, when they would pass the memory limit.
  bool StorePieces(SplitPieces pieces);
  // What the values take, as counted for the limit.
  std::size_t bytes() const { return bytes_; }

  // The received spans of a slot's value; nullptr when it is the script's own.
  const ReceivedSpans* ReceivedOf(const std::string* slot) const {
    if (received_.empty()) return nullptr;
    const auto it = received_.find(slot);
    return it == received_.end() ? nullptr : &it->second;
  }
  bool AnyReceived() const { return !received_.empty(); }
  void Forget(const std::string* slot) { received_.erase(slot); }
  // Lookup without creating; nullptr when missing.
  const std::string* Find(std::string_view name) const;
  bool Contains(std::string_view name) const { return Find(name) != nullptr; }
  // Every variable, the pieces of splits included (they become map entries).
  const std::map<std::string, std::string, std::less<>>& entries() const;
  std::size_t size() const { return entries().size(); }

  // The variable `accuracy`, read by every evaluated expression. Variables
  // are never removed and map nodes never move, so its slot is kept.
  std::string& Accuracy() {
    if (!accuracy_) accuracy_ = &(*this)["accuracy"];
    return *accuracy_;
  }

  // Changes whenever the whole table is replaced, which is the only thing
  // that ends the life of a value's slot: a kept `&table[name]` stays valid
  // while the epoch is the same.
  uint64_t epoch() const { return epoch_; }

 private:
  void CopyMarks(const VariableTable& other);
  // The map entry of a split piece not yet read; nullptr for other names.
  std::string* TakePiece(std::string_view name) const;
  std::string& MakeEntry(const SplitPieces& p, std::size_t i, std::string_view name) const;
  void Count(std::size_t add, std::size_t remove) const {
    bytes_ = bytes_ + add >= remove ? bytes_ + add - remove : 0;
  }

  // Mutable because reading a split piece makes it a map entry, which
  // changes no value the script can see.
  mutable std::map<std::string, std::string, std::less<>> map_;
  // Keyed by the slot: map nodes never move and variables are never removed,
  // so a script that receives nothing pays one empty test per write.
  mutable std::unordered_map<const std::string*, ReceivedSpans> received_;
  // Disjoint ranges of piece numbers, none of them with a map entry.
  mutable std::vector<std::shared_ptr<const SplitPieces>> pieces_;
  mutable std::size_t bytes_ = 0;
  std::size_t limit_ = VariableMemoryLimit();
  std::string* accuracy_ = nullptr;
  uint64_t epoch_ = 0;
};

}  // namespace velmar
