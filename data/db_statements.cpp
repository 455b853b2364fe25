#include "data/db_statements.h"

#include "engine/script_context.h"

namespace velmar {

void ExecuteDbStatement(ScriptContext&, int32_t, const std::string&) {}

}  // namespace velmar
