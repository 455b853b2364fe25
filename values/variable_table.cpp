#include "values/variable_table.h"

namespace velmar {

std::string& VariableTable::operator[](std::string_view name) {
  auto it = map_.find(name);
  if (it == map_.end()) it = map_.emplace(std::string(name), std::string()).first;
  return it->second;
}

const std::string* VariableTable::Find(std::string_view name) const {
  auto it = map_.find(name);
  return it == map_.end() ? nullptr : &it->second;
}

}  // namespace velmar
