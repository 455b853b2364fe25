#pragma once
// The script's variables: an ordered, case-sensitive map from name to text.
// Reading a name that is not there creates it with the empty text.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace velmar {

class VariableTable {
 public:
  VariableTable() = default;
  // Copies and moves forget the cached slot; it points into the source's map.
  VariableTable(const VariableTable& other) : map_(other.map_) {}
  VariableTable(VariableTable&& other) noexcept : map_(std::move(other.map_)) {
    other.accuracy_ = nullptr;
    ++other.epoch_;
  }
  VariableTable& operator=(const VariableTable& other) {
    map_ = other.map_;
    accuracy_ = nullptr;
    ++epoch_;
    return *this;
  }
  VariableTable& operator=(VariableTable&& other) noexcept {
    map_ = std::move(other.map_);
    accuracy_ = nullptr;
    other.accuracy_ = nullptr;
    ++epoch_;
    ++other.epoch_;
    return *this;
  }

  // The value of a name, creating it empty when missing.
  std::string& operator[](std::string_view name);
  const std::string& Get(std::string_view name) { return (*this)[name]; }
  void Set(std::string_view name, std::string_view value) { (*this)[name].assign(value); }
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
  std::map<std::string, std::string, std::less<>> map_;
  std::string* accuracy_ = nullptr;
  uint64_t epoch_ = 0;
};

}  // namespace velmar
