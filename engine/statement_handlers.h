#pragma once
// The handler of every statement the keyword table hands to a function, as
// keywords.def names them: ExecuteName gets the text its argument mode gives
// (the expanded text, the stored text, or none) and returns what happened.

#include <string>

#include "engine/host_requests.h"
#include "engine/statement_result.h"

namespace velmar {

struct ScriptContext;

#define VELMAR_STEP(keyword, Name, mode)
#define VELMAR_HOST(keyword, Name, mode, code)
#define VELMAR_NO_ACTION(keyword, Name, mode)
#define VELMAR_HANDLER(keyword, Name, mode) \
  StatementResult Execute##Name(ScriptContext& ctx, const std::string& text);
#include "engine/keywords.def"
#undef VELMAR_STEP
#undef VELMAR_HOST
#undef VELMAR_NO_ACTION
#undef VELMAR_HANDLER

// A statement that is accepted and does nothing (`new`, `minwindow`,
// `maxwindow`).
StatementResult ExecuteNoAction(ScriptContext& ctx, const std::string& text);

}  // namespace velmar
