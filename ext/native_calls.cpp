#include "ext/native_calls.h"

#include "engine/script_context.h"

namespace velmar {

std::string CallNative(ScriptContext&, std::string_view) { return {}; }
void ExecuteLoadDll(ScriptContext&, const std::string&) {}
void ExecuteUnloadDll(ScriptContext&, const std::string&) {}

}  // namespace velmar
