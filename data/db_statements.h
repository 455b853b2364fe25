#pragma once
// openaccess, openmssql, openmysql, closedb, query and execute, and the
// `%` references that read the rows a query left.

#include <string>
#include <string_view>

namespace velmar {

struct ScriptContext;

// The handlers of the keyword table; each gets its stored text.
void ExecuteOpenAccess(ScriptContext& ctx, const std::string& rawText);
void ExecuteOpenMssql(ScriptContext& ctx, const std::string& rawText);
void ExecuteOpenMysql(ScriptContext& ctx, const std::string& rawText);
void ExecuteCloseDb(ScriptContext& ctx, const std::string& rawText);
void ExecuteQuery(ScriptContext& ctx, const std::string& rawText);
void ExecuteExecute(ScriptContext& ctx, const std::string& rawText);

// Value of the name part of a `%` reference: `name.count` or `name.row.column`.
std::string ReadQueryCell(ScriptContext& ctx, std::string_view namePart);

}  // namespace velmar
