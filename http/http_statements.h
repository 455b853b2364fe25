#pragma once
// The HTTP, form, cookie and captcha statements.

#include <cstdint>
#include <string>
#include <string_view>

namespace velmar {

struct ScriptContext;
class CodePage;

// The handlers of the keyword table. Each gets its expanded text, except
// setcookies and getcookies, which get their stored text and expand their
// two parts themselves, and clear, upload and clearcookies, which get none.
void ExecuteTest(ScriptContext& ctx, const std::string& url);
void ExecuteGet(ScriptContext& ctx, const std::string& url);
void ExecutePost(ScriptContext& ctx, const std::string& url);
void ExecuteCaptcha(ScriptContext& ctx, const std::string& text);
void ExecuteSaveto(ScriptContext& ctx, const std::string& path);
void ExecuteReferer(ScriptContext& ctx, const std::string& text);
void ExecuteLan(ScriptContext& ctx, const std::string& text);
void ExecuteEncoding(ScriptContext& ctx, const std::string& text);
void ExecuteImitate(ScriptContext& ctx, const std::string& text);
void ExecuteProxy(ScriptContext& ctx, const std::string& text);
void ExecuteTimeout(ScriptContext& ctx, const std::string& text);
void ExecuteClear(ScriptContext& ctx, const std::string& text);
void ExecuteAdd(ScriptContext& ctx, const std::string& text);
void ExecuteAddx(ScriptContext& ctx, const std::string& text);
void ExecuteUpload(ScriptContext& ctx, const std::string& text);
void ExecuteUptext(ScriptContext& ctx, const std::string& text);
void ExecuteUpfile(ScriptContext& ctx, const std::string& text);
void ExecuteSetCookies(ScriptContext& ctx, const std::string& rawText);
void ExecuteDelCookies(ScriptContext& ctx, const std::string& key);
void ExecuteClearCookies(ScriptContext& ctx, const std::string& text);
void ExecuteGetCookies(ScriptContext& ctx, const std::string& rawText);
void ExecuteSaveCookies(ScriptContext& ctx, const std::string& path);
void ExecuteResumeCookies(ScriptContext& ctx, const std::string& path);
void ExecuteSaveIeCookies(ScriptContext& ctx, const std::string& url);
void ExecuteResumeIeCookies(ScriptContext& ctx, const std::string& url);
void ExecuteHeader(ScriptContext& ctx, const std::string& text);
void ExecuteDelHeader(ScriptContext& ctx, const std::string& name);
void ExecuteBody(ScriptContext& ctx, const std::string& text);
void ExecuteBodyFile(ScriptContext& ctx, const std::string& text);
void ExecutePut(ScriptContext& ctx, const std::string& url);
void ExecutePatch(ScriptContext& ctx, const std::string& url);
void ExecuteDelete(ScriptContext& ctx, const std::string& url);
void ExecuteRedirect(ScriptContext& ctx, const std::string& text);
void ExecuteDecode(ScriptContext& ctx, const std::string& text);
void ExecuteKeepAlive(ScriptContext& ctx, const std::string& text);
void ExecuteSendUtf8(ScriptContext& ctx, const std::string& text);

// A text of the script's code page as UTF-8 (unchanged in a UTF-8 script),
// for what `sendutf8` sends in UTF-8.
std::string ToUtf8(std::string_view text, const CodePage& cp);

// Whether a response body is UTF-8 text: by "UTF-8"/"utf-8" in the headers,
// else by the same words before the end of the document head or of an XML
// declaration.
bool IsUtf8Response(std::string_view headers, std::string_view body);
// A UTF-8 body in the active code page; a character the code page lacks, or
// a broken sequence, becomes '?'. A body that stays as it is comes back
// moved, not copied (a large page is held once).
std::string ConvertUtf8Body(std::string body, const CodePage& cp);

}  // namespace velmar
