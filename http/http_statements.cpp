#include "http/http_statements.h"

#include <filesystem>
#include <limits>
#include <system_error>

#include "engine/executor.h"
#include "engine/keyword_table.h"
#include "engine/script_context.h"
#include "http/cookie_store.h"
#include "values/expansion.h"
#include "values/text_file_ops.h"

namespace velmar {
namespace {

constexpr const char* kFormatError = "格式有误．";
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

void RunRequest(ScriptContext& ctx, const std::string& url, int method) {
  HttpClient& http = ctx.http;
  PrepareClient(ctx);
  const int result = http.Perform(url, method);
  ctx.variables["status"] = result == 1 ? "1" : "0";
  ctx.variables["http_head"] = http.responseHeaders();
  const std::string& body = http.responseBody();
  if (IsUtf8Response(http.responseHeaders(), body)) {
    ctx.variables["http_body"] = ConvertUtf8Body(body, ctx.codePage());
  } else {
    ctx.variables["http_body"] = body;
  }
  if (method == 1) http.ClearForm();
  http.SetSaveToPath("");
}

std::string Extension(std::string_view path, const CodePage& cp) {
  const std::size_t dot = cp.FindLastByte(path, '.');
  return cp.Lower(dot == std::string_view::npos ? path : path.substr(dot + 1));
}

void Captcha(ScriptContext& ctx, const std::string& text) {
  const FirstWordSplit split = splitFirstWord(text, "", ctx.codePage());
  if (!split.found) {
    reportScriptError(ctx, text, kFormatError);
    return;
  }
  const std::filesystem::path temp = ctx.env->home / "Temp";
  std::error_code ec;
  std::filesystem::create_directories(temp, ec);
  const std::string file =
      (temp / ("captcha_" + std::to_string(ctx.id) + "." + split.head)).string();
  HttpClient& http = ctx.http;
  PrepareClient(ctx);
  http.SetSaveToPath(file);
  http.Perform(split.tail, 0);
  http.SetSaveToPath("");
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

std::string ConvertUtf8Body(std::string_view body, const CodePage& cp) {
  // Text that is already valid UTF-8 would come back unchanged in a UTF-8
  // code page; skip the round trip through UTF-16 then.
  if (cp.id() == CodePage::kUtf8 && IsValidUtf8(body)) return std::string(body);
  std::u16string wide;
  CodePage::Get(CodePage::kUtf8).ToUtf16(body, wide);
  std::string out;
  cp.FromUtf16(wide, out);
  return out;
}

void ExecuteHttpStatement(ScriptContext& ctx, int32_t id, const std::string& text) {
  HttpClient& http = ctx.http;
  const CodePage& cp = ctx.codePage();
  switch (id) {
    case stmt::kGet:
      RunRequest(ctx, text, 0);
      break;
    case stmt::kPost:
      RunRequest(ctx, text, 1);
      break;
    case stmt::kTest:
      PrepareClient(ctx);
      http.Perform(text, 0);
      break;
    case stmt::kCaptcha:
      Captcha(ctx, text);
      break;
    case stmt::kSaveto:
      http.SetSaveToPath(NormalizePath(text, cp));
      break;
    case stmt::kReferer:
      http.SetReferer(text);
      break;
    case stmt::kLan:
      http.SetAcceptLanguage(text);
      break;
    case stmt::kEncoding:
      http.SetAcceptEncoding(text);
      break;
    case stmt::kImitate:
      http.SetUserAgent(text);
      break;
    case stmt::kProxy: {
      const FirstWordSplit split = splitFirstWord(text, "", cp);
      if (split.found && !split.head.empty()) {
        const long long port = LeadingInteger(split.tail);
        http.SetProxy(std::string(CodePage::Trim(split.head)),
                      static_cast<uint16_t>(port < 0 ? 0 : port));
      } else {
        http.SetProxy("", 80);
      }
      break;
    }
    case stmt::kTimeout: {
      const FirstWordSplit split = splitFirstWord(text, "", cp);
      if (split.found && !split.head.empty()) {
        http.SetTimeouts(ClampInt32(LeadingInteger(split.head)),
                         ClampInt32(LeadingInteger(split.tail)));
      } else {
        http.SetTimeouts(0, 0);
      }
      break;
    }
    case stmt::kClear:
      http.ClearForm();
      break;
    case stmt::kAdd:
    case stmt::kAddx: {
      const FirstWordSplit split = splitFirstWord(text, "", cp);
      http.AddFormField(split.head, split.tail, id == stmt::kAdd);
      break;
    }
    case stmt::kUpload:
      http.OpenMultipart();
      break;
    case stmt::kUptext: {
      const FirstWordSplit split = splitFirstWord(text, "", cp);
      http.AddTextPart(split.head, split.tail);
      break;
    }
    case stmt::kUpfile: {
      const FirstWordSplit split = splitFirstWord(text, "", cp);
      http.AddFilePart(split.head, split.tail, Extension(split.tail, cp), cp);
      break;
    }
    case stmt::kSetCookies: {
      const FirstWordSplit split = SplitRaw(ctx, text);
      if (split.found) {
        http.cookies().Set(split.head, split.tail);
        // Recomputed at once, so the next request sends what the script set.
        http.cookies().RecomputeCookieText();
      }
      break;
    }
    case stmt::kDelCookies:
      http.cookies().Remove(text);
      http.cookies().RecomputeCookieText();
      break;
    case stmt::kClearCookies:
      http.cookies().Clear();
      break;
    case stmt::kGetCookies: {
      FirstWordSplit split = splitFirstWord(text, "", cp);
      // "[#v]" names the variable v: drop the two leading characters and the
      // closing bracket, then expand what is left.
      std::string name =
          split.head.size() >= 3 ? split.head.substr(2, split.head.size() - 3) : std::string();
      ExpandAndEvaluate(ctx, name);
      ExpandAndEvaluate(ctx, split.tail);
      ctx.variables[name] = http.cookies().Get(split.tail);
      break;
    }
    case stmt::kSaveCookies:
      http.cookies().SaveFile(text, cp);
      break;
    case stmt::kResumeCookies:
      http.cookies().LoadFile(text, cp);
      break;
    case stmt::kSaveIeCookies: {
      CookieStore store(ctx.env->home / "cookies.txt", &ctx.stop);
      for (const auto& [key, value] : http.cookies().entries()) {
        if (!store.SetCookie(text, key + "=" + value + "; expires=" + kStoreExpiry)) break;
      }
      break;
    }
    case stmt::kResumeIeCookies: {
      const CookieStore store(ctx.env->home / "cookies.txt", &ctx.stop);
      const std::string cookies = store.GetCookies(text);
      if (!cookies.empty()) {
        http.cookies().ParseCookieText(cookies);
        http.cookies().RecomputeCookieText();
      }
      break;
    }
    default:
      break;
  }
}

}  // namespace velmar
