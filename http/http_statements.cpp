#include "http/http_statements.h"

#include "engine/script_context.h"

namespace velmar {

void ExecuteHttpStatement(ScriptContext&, int32_t, const std::string&) {}

}  // namespace velmar
