#pragma once
// Named regular expressions of a script and their last results.

#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace velmar {

struct ScriptContext;

class NamedRegex {
 public:
  virtual ~NamedRegex() = default;
};

using RegexTable = std::map<std::string, std::unique_ptr<NamedRegex>, std::less<>>;

// Value of the name part of a `$` reference ([$name.count], [$name.N]).
std::string ReadRegexValue(ScriptContext& ctx, std::string_view namePart);

}  // namespace velmar
