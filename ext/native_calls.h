#pragma once
// Native library calls: loaded libraries and resolved entry points.

#include <map>
#include <string>
#include <string_view>

namespace velmar {

struct ScriptContext;

class LibraryTable {
 public:
};

class EntryPointCache {
 public:
};

// Value of the name part of a `~` reference.
std::string CallNative(ScriptContext& ctx, std::string_view namePart);
void ExecuteLoadDll(ScriptContext& ctx, const std::string& rawText);
void ExecuteUnloadDll(ScriptContext& ctx, const std::string& expandedName);

}  // namespace velmar
