#pragma once
// The HTTP, form, cookie and captcha statements.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/statement_handlers.h"

namespace velmar {

struct ScriptContext;
class CodePage;

// Whether a response body is UTF-8 text: by "UTF-8"/"utf-8" in the headers,
// else by the same words before the end of the document head or of an XML
// declaration.
bool IsUtf8Response(std::string_view headers, std::string_view body);
// A UTF-8 body in the active code page; a character the code page lacks, or
// a broken sequence, becomes '?'. A body that stays as it is comes back
// moved, not copied (a large page is held once).
std::string ConvertUtf8Body(std::string body, const CodePage& cp);

}  // namespace velmar
