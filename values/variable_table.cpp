#include "values/variable_table.h"

namespace velmar {

std::string& VariableTable::Slot(std::string_view name) {
  auto it = map_.find(name);
  if (it == map_.end()) it = map_.emplace(std::string(name), std::string()).first;
  return it->second;
}

const std::string* VariableTable::Find(std::string_view name) const {
  auto it = map_.find(name);
  return it == map_.end() ? nullptr : &it->second;
}

void VariableTable::SetReceived(std::string_view name, std::string value) {
  ReceivedSpans spans = WholeSpan(value.size());
  SetMarked(name, std::move(value), std::move(spans));
}

void VariableTable::SetMarked(std::string_view name, std::string value, ReceivedSpans spans) {
  std::string& slot = Slot(name);
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

void VariableTable::CopyMarks(const VariableTable& other) {
  for (const auto& [name, value] : other.map_) {
    if (const ReceivedSpans* spans = other.ReceivedOf(&value)) received_[&map_.find(name)->second] = *spans;
  }
}

}  // namespace velmar
