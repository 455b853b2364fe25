#pragma once
// The HTTP, form, cookie and captcha statements.

#include <cstdint>
#include <string>

namespace velmar {

struct ScriptContext;

// Runs statement `id` (test, get, post, captcha, saveto, clear, add, addx,
// uptext, upfile, upload, proxy, timeout, referer, lan, encoding, imitate and
// the cookie statements) with the text the executor hands over: expanded,
// except for setcookies and getcookies, which get their stored text and
// expand their two parts themselves.
void ExecuteHttpStatement(ScriptContext& ctx, int32_t id, const std::string& text);

}  // namespace velmar
