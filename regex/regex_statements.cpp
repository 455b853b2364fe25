#include "regex/regex_statements.h"

#include "engine/script_context.h"

namespace velmar {

std::string ReadRegexValue(ScriptContext&, std::string_view) { return {}; }
void ExecuteRegex(ScriptContext&, const std::string&) {}
void ExecuteMatch(ScriptContext&, const std::string&) {}
void ExecuteUnregex(ScriptContext&, const std::string&) {}
void ExecuteReplace(ScriptContext&, const std::string&) {}

}  // namespace velmar
