#pragma once
// The HTTP, form, cookie and captcha statements.

#include <cstdint>
#include <string>
#include <string_view>

namespace velmar {

struct ScriptContext;
class CodePage;

// Runs statement `id` (test, get, post, captcha, saveto, clear, add, addx,
// uptext, upfile, upload, proxy, timeout, referer, lan, encoding, imitate and
// the cookie statements) with the text the executor hands over: expanded,
// except for setcookies and getcookies, which get their stored text and
// expand their two parts themselves.
void ExecuteHttpStatement(ScriptContext& ctx, int32_t id, const std::string& text);

// Whether a response body is UTF-8 text: by "UTF-8"/"utf-8" in the headers,
// else by the same words before the end of the document head or of an XML
// declaration.
bool IsUtf8Response(std::string_view headers, std::string_view body);
// A UTF-8 body in the active code page; a character the code page lacks, or
// a broken sequence, becomes '?'.
std::string ConvertUtf8Body(std::string_view body, const CodePage& cp);

}  // namespace velmar
