#pragma once
// The script's variables: an ordered, case-sensitive map from name to text.
// Reading a name that is not there creates it with the empty text.

#include <map>
#include <string>
#include <string_view>

namespace velmar {

class VariableTable {
 public:
  // The value of a name, creating it empty when missing.
  std::string& operator[](std::string_view name);
  const std::string& Get(std::string_view name) { return (*this)[name]; }
  void Set(std::string_view name, std::string_view value) { (*this)[name].assign(value); }
  // Lookup without creating; nullptr when missing.
  const std::string* Find(std::string_view name) const;
  bool Contains(std::string_view name) const { return Find(name) != nullptr; }
  std::size_t size() const { return map_.size(); }
  const std::map<std::string, std::string, std::less<>>& entries() const { return map_; }

 private:
  std::map<std::string, std::string, std::less<>> map_;
};

}  // namespace velmar
