#pragma once
// openaccess, openmssql, openmysql, closedb, query and execute.

#include <cstdint>
#include <string>

namespace velmar {

struct ScriptContext;

// Runs statement `id` (44 to 49) with its stored text.
void ExecuteDbStatement(ScriptContext& ctx, int32_t id, const std::string& rawText);

}  // namespace velmar
