#pragma once
// openaccess, openmssql, openmysql, closedb, query and execute, and the
// `%` references that read the rows a query left.

#include <string>
#include <string_view>

#include "engine/statement_handlers.h"

namespace velmar {

struct ScriptContext;

// Value of the name part of a `%` reference: `name.count` or `name.row.column`.
std::string ReadQueryCell(ScriptContext& ctx, std::string_view namePart);

}  // namespace velmar
