#include "values/builtins.h"

#include "engine/script_context.h"

namespace velmar {

std::string CallBuiltin(ScriptContext&, std::string_view) { return {}; }
void ExecuteSrand(ScriptContext&) {}

}  // namespace velmar
