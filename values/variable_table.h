#pragma once
// The script's variables: an ordered, case-sensitive map from name to text.
// Reading a name that is not there creates it with the empty text.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>

#include "values/received_text.h"

namespace velmar {

class VariableTable {
 public:
  VariableTable() = default;
  // Copies and moves forget the cached slot; it points into the source's map.
  VariableTable(const VariableTable& other) : map_(other.map_) { CopyMarks(other); }
  VariableTable(VariableTable&& other) noexcept
      : map_(std::move(other.map_)), received_(std::move(other.received_)) {
    other.accuracy_ = nullptr;
    other.received_.clear();
    ++other.epoch_;
  }
  VariableTable& operator=(const VariableTable& other) {
    map_ = other.map_;
    received_.clear();
    CopyMarks(other);
    accuracy_ = nullptr;
    ++epoch_;
    return *this;
  }
  VariableTable& operator=(VariableTable&& other) noexcept {
    map_ = std::move(other.map_);
    received_ = std::move(other.received_);
    other.received_.clear();
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
  std::size_t size() const { return map_.size(); }
  const std::map<std::string, std::string, std::less<>>& entries() const { return map_; }

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

  std::map<std::string, std::string, std::less<>> map_;
  // Keyed by the slot: map nodes never move and variables are never removed,
  // so a script that receives nothing pays one empty test per write.
  std::unordered_map<const std::string*, ReceivedSpans> received_;
  std::string* accuracy_ = nullptr;
  uint64_t epoch_ = 0;
};

}  // namespace velmar
