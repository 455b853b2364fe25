#include "http/http_statements.h"

#include <filesystem>
#include <limits>
#include <system_error>

#include "engine/executor.h"
#include "engine/keyword_table.h"
#include "engine/script_context.h"
#include "http/cookie_store.h"
#include "values/expansion.h"
#include "values/messages.h"
#include "values/text_file_ops.h"

namespace velmar {
namespace {

// Cookies handed to the shared store by saveiecookies live "for ever".
constexpr const char* kStoreExpiry = "Sat, 01-Jan-3000 00:00:00 GMT";

int32_t ClampInt32(long long v) {
  return static_cast<int32_t>(std::clamp<long long>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// Valid UTF-8 with no overlong forms, surrogates or code points past U+10FFFF.
bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (std::size_t k = 1; k < len; ++k) {
      const auto t = static_cast<unsigned char>(text[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
      return false;
    }
    i += len;
  }
  return true;
}

// Everything a request needs from the script's surroundings, read once per
// client: certificate checking from Config.ini and the stop signal.
void PrepareClient(ScriptContext& ctx) {
  HttpClient& http = ctx.http;
  http.SetStopSignal(&ctx.stop);
  if (!http.TlsSettingsLoaded()) {
    // sslverify=0 accepts any certificate, as older deployments expect;
    // cafile names a PEM file of extra trusted certificates (a private CA).
    const bool verify = ctx.env->config.GetInt("sslverify", 1) != 0;
    std::string caFile = ctx.env->config.GetString("cafile");
    if (!caFile.empty()) caFile = NormalizePath(caFile, ctx.codePage());
    http.SetTlsVerification(verify, std::move(caFile));
  }
}

// One request of the script's client; why a failed one failed goes to the
// host's diagnostics.
RequestResult Perform(ScriptContext& ctx, const std::string& url, HttpMethod method) {
  PrepareClient(ctx);
  const RequestResult result = ctx.http.Perform(url, method);
  if (result == RequestResult::kFailed && !ctx.http.lastError().empty() && ctx.env->diagnostic) {
    ctx.env->diagnostic(ctx.id, ctx.http.lastError());
  }
  return result;
}

void RunRequest(ScriptContext& ctx, const std::string& url, HttpMethod method) {
  HttpClient& http = ctx.http;
  const RequestResult result = Perform(ctx, url, method);
  ctx.variables["status"] = result == RequestResult::kCompleted ? "1" : "0";
  // What a server sent is data to the script, never more of its code.
  ctx.variables.SetReceived("http_head", http.responseHeaders());
  // Moved, not copied: a large page is held once, by the variable.
  std::string body = http.TakeResponseBody();
  if (IsUtf8Response(http.responseHeaders(), body)) {
    ctx.variables.SetReceived("http_body", ConvertUtf8Body(std::move(body), ctx.codePage()));
  } else {
    ctx.variables.SetReceived("http_body", std::move(body));
  }
  if (method == HttpMethod::kPost) http.ClearForm();
  http.SetSaveToPath("");
}

std::string Extension(std::string_view path, const CodePage& cp) {
  const std::size_t dot = cp.FindLastByte(path, '.');
  return cp.Lower(dot == std::string_view::npos ? path : path.substr(dot + 1));
}

// setcookies and getcookies split their stored text before expanding it.
FirstWordSplit SplitRaw(ScriptContext& ctx, const std::string& text) {
  FirstWordSplit split = splitFirstWord(text, "", ctx.codePage());
  ExpandAndEvaluate(ctx, split.head);
  ExpandAndEvaluate(ctx, split.tail);
  return split;
}

}  // namespace

bool IsUtf8Response(std::string_view headers, std::string_view body) {
  if (headers.find("UTF-8") != std::string_view::npos ||
      headers.find("utf-8") != std::string_view::npos) {
    return true;
  }
  std::size_t end = body.find("</head>");
  if (end == std::string_view::npos) end = body.find("</HEAD>");
  if (end == std::string_view::npos) end = body.find("\"?>");
  if (end == std::string_view::npos) return false;
  const std::string_view before = body.substr(0, end);
  return before.find("utf-8") != std::string_view::npos ||
         before.find("UTF-8") != std::string_view::npos;
}

std::string ConvertUtf8Body(std::string body, const CodePage& cp) {
  // Text that is already valid UTF-8 would come back unchanged in a UTF-8
  // code page; skip the round trip through UTF-16 then.
  if (cp.id() == CodePage::kUtf8 && IsValidUtf8(body)) return body;
  std::u16string wide;
  CodePage::Get(CodePage::kUtf8).ToUtf16(body, wide);
  std::string out;
  cp.FromUtf16(wide, out);
  return out;
}

void ExecuteGet(ScriptContext& ctx, const std::string& url) {
  RunRequest(ctx, url, HttpMethod::kGet);
}

void ExecutePost(ScriptContext& ctx, const std::string& url) {
  RunRequest(ctx, url, HttpMethod::kPost);
}

void ExecuteTest(ScriptContext& ctx, const std::string& url) {
  Perform(ctx, url, HttpMethod::kGet);
}

void ExecuteCaptcha(ScriptContext& ctx, const std::string& text) {
  const FirstWordSplit split = splitFirstWord(text, "", ctx.codePage());
  if (!split.found) {
    reportScriptError(ctx, text, msg::kFormatError);
    return;
  }
  const std::filesystem::path temp = ctx.env->home / "Temp";
  std::error_code ec;
  std::filesystem::create_directories(temp, ec);
  const std::string file =
      (temp / ("captcha_" + std::to_string(ctx.id) + "." + split.head)).string();
  HttpClient& http = ctx.http;
  http.SetSaveToPath(file);
  Perform(ctx, split.tail, HttpMethod::kGet);
  http.SetSaveToPath("");
}

void ExecuteSaveto(ScriptContext& ctx, const std::string& path) {
  ctx.http.SetSaveToPath(NormalizePath(path, ctx.codePage()));
}

void ExecuteReferer(ScriptContext& ctx, const std::string& text) {
  ctx.http.SetReferer(text);
}

void ExecuteLan(ScriptContext& ctx, const std::string& text) {
  ctx.http.SetAcceptLanguage(text);
}

void ExecuteEncoding(ScriptContext& ctx, const std::string& text) {
  ctx.http.SetAcceptEncoding(text);
}

void ExecuteImitate(ScriptContext& ctx, const std::string& text) {
  ctx.http.SetUserAgent(text);
}

void ExecuteProxy(ScriptContext& ctx, const std::string& text) {
  const FirstWordSplit split = splitFirstWord(text, "", ctx.codePage());
  if (split.found && !split.head.empty()) {
    const long long port = LeadingInteger(split.tail);
    ctx.http.SetProxy(std::string(CodePage::Trim(split.head)),
                      static_cast<uint16_t>(port < 0 ? 0 : port));
  } else {
    ctx.http.SetProxy("", 80);
  }
}

void ExecuteTimeout(ScriptContext& ctx, const std::string& text) {
  const FirstWordSplit split = splitFirstWord(text, "", ctx.codePage());
  if (split.found && !split.head.empty()) {
    ctx.http.SetTimeouts(ClampInt32(LeadingInteger(split.head)),
                         ClampInt32(LeadingInteger(split.tail)));
  } else {
    ctx.http.SetTimeouts(0, 0);
  }
}

void ExecuteClear(ScriptContext& ctx, const std::string&) {
  ctx.http.ClearForm();
}

void ExecuteAdd(ScriptContext& ctx, const std::string& text) {
  const FirstWordSplit split = splitFirstWord(text, "", ctx.codePage());
  ctx.http.AddFormField(split.head, split.tail, true);
}

void ExecuteAddx(ScriptContext& ctx, const std::string& text) {
  const FirstWordSplit split = splitFirstWord(text, "", ctx.codePage());
  ctx.http.AddFormField(split.head, split.tail, false);
}

void ExecuteUpload(ScriptContext& ctx, const std::string&) {
  ctx.http.OpenMultipart();
}

void ExecuteUptext(ScriptContext& ctx, const std::string& text) {
  const FirstWordSplit split = splitFirstWord(text, "", ctx.codePage());
  ctx.http.AddTextPart(split.head, split.tail);
}

void ExecuteUpfile(ScriptContext& ctx, const std::string& text) {
  const CodePage& cp = ctx.codePage();
  const FirstWordSplit split = splitFirstWord(text, "", cp);
  ctx.http.AddFilePart(split.head, split.tail, Extension(split.tail, cp), cp);
}

void ExecuteSetCookies(ScriptContext& ctx, const std::string& rawText) {
  const FirstWordSplit split = SplitRaw(ctx, rawText);
  if (split.found) {
    CookieJar& cookies = ctx.http.cookies();
    cookies.Set(split.head, split.tail);
    // Recomputed at once, so the next request sends what the script set.
    cookies.RecomputeCookieText();
  }
}

void ExecuteDelCookies(ScriptContext& ctx, const std::string& key) {
  ctx.http.cookies().Remove(key);
  ctx.http.cookies().RecomputeCookieText();
}

void ExecuteClearCookies(ScriptContext& ctx, const std::string&) {
  ctx.http.cookies().Clear();
}

void ExecuteGetCookies(ScriptContext& ctx, const std::string& rawText) {
  FirstWordSplit split = splitFirstWord(rawText, "", ctx.codePage());
  // "[#v]" names the variable v: drop the two leading characters and the
  // closing bracket, then expand what is left.
  std::string name =
      split.head.size() >= 3 ? split.head.substr(2, split.head.size() - 3) : std::string();
  ExpandAndEvaluate(ctx, name);
  ExpandAndEvaluate(ctx, split.tail);
  ctx.variables.SetReceived(name, ctx.http.cookies().Get(split.tail));
}

void ExecuteSaveCookies(ScriptContext& ctx, const std::string& path) {
  ctx.http.cookies().SaveFile(path, ctx.codePage());
}

void ExecuteResumeCookies(ScriptContext& ctx, const std::string& path) {
  ctx.http.cookies().LoadFile(path, ctx.codePage());
}

void ExecuteSaveIeCookies(ScriptContext& ctx, const std::string& url) {
  CookieStore store(ctx.env->home / "cookies.txt", &ctx.stop);
  for (const auto& [key, value] : ctx.http.cookies().entries()) {
    if (!store.SetCookie(url, key + "=" + value + "; expires=" + kStoreExpiry)) break;
  }
}

void ExecuteResumeIeCookies(ScriptContext& ctx, const std::string& url) {
  const CookieStore store(ctx.env->home / "cookies.txt", &ctx.stop);
  const std::string cookies = store.GetCookies(url);
  if (!cookies.empty()) {
    ctx.http.cookies().ParseCookieText(cookies);
    ctx.http.cookies().RecomputeCookieText();
  }
}

}  // namespace velmar
