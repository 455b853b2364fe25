#include "engine/statements/http_statements.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <system_error>

#include "engine/executor.h"
#include "engine/keyword_table.h"
#include "engine/script_context.h"
#include "engine/statements/expansion.h"
#include "http/cookie_store.h"
#include "http/http_client.h"
#include "http/url.h"
#include "platform/durable_file.h"
#include "values/messages.h"
#include "values/text_file_ops.h"
#include "values/utf8.h"

namespace velmar {
namespace {

// Cookies handed to the shared store by saveiecookies live "for ever".
constexpr const char* kStoreExpiry = "Sat, 01-Jan-3000 00:00:00 GMT";

int32_t ClampInt32(long long v) {
  return static_cast<int32_t>(std::clamp<long long>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
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
  if (result == RequestResult::kFailed && !ctx.http.lastError().empty()) {
    ctx.Diagnose(ctx.http.lastError());
  }
  return result;
}

void RunRequest(ScriptContext& ctx, const std::string& url, HttpMethod method) {
  HttpClient& http = ctx.http;
  const RequestResult result = Perform(ctx, url, method);
  ctx.variables["status"] = result == RequestResult::kCompleted ? "1" : "0";
  // What a server sent is data to the script, never more of its code.
  ctx.variables.SetReceived("http_head", http.responseHeaders());
  ctx.variables["http_status"] =
      http.statusCode() == 0 ? std::string() : std::to_string(http.statusCode());
  ctx.variables.SetReceived("http_url", http.finalUrl());
  // Moved, not copied: a large page is held once, by the variable. So the
  // variable is the only copy of the last body: a request that read no
  // response leaves it as it is, as it leaves http_head.
  if (http.HasUntakenResponse()) {
    std::string body = http.TakeResponseBody();
    if (IsUtf8Response(http.responseHeaders(), body)) {
      ctx.variables.SetReceived("http_body", ConvertUtf8Body(std::move(body), ctx.codePage()));
    } else {
      ctx.variables.SetReceived("http_body", std::move(body));
    }
  }
  if (method != HttpMethod::kGet) http.ClearForm();
  http.SetSaveToPath("");
}

std::string Extension(std::string_view path, const CodePage& cp) {
  const std::size_t dot = cp.FindLastByte(path, '.');
  return cp.Lower(dot == std::string_view::npos ? path : path.substr(dot + 1));
}

void AddField(ScriptContext& ctx, const FirstWordSplit& split, bool encode) {
  if (ctx.http.sendUtf8()) {
    ctx.http.AddFormField(ctx.codePage().ToUtf8(split.head), ctx.codePage().ToUtf8(split.tail),
                          encode);
  } else {
    ctx.http.AddFormField(split.head, split.tail, encode);
  }
}

// "1" (or any number but 0) switches a setting on; "0" or nothing off.
bool SwitchedOn(std::string_view text) {
  return LeadingInteger(CodePage::Trim(text)) != 0;
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
  if (cp.id() == CodePage::kUtf8 && utf8::IsValid(body)) return body;
  std::u16string wide;
  CodePage::Get(CodePage::kUtf8).ToUtf16(body, wide);
  std::string out;
  cp.FromUtf16(wide, out);
  return out;
}

StatementResult ExecuteGet(ScriptContext& ctx, const std::string& url) {
  RunRequest(ctx, url, HttpMethod::kGet);
  return StatementResult::Continue();
}

StatementResult ExecutePost(ScriptContext& ctx, const std::string& url) {
  RunRequest(ctx, url, HttpMethod::kPost);
  return StatementResult::Continue();
}

StatementResult ExecuteTest(ScriptContext& ctx, const std::string& url) {
  Perform(ctx, url, HttpMethod::kGet);
  return StatementResult::Continue();
}

StatementResult ExecuteCaptcha(ScriptContext& ctx, const std::string& text) {
  const FirstWordSplit split = splitFirstWord(text, "", ctx.codePage());
  if (!split.found) return ctx.Fail(text, msg::kFormatError);
  // The image goes under the home folder's own `Temp`, never through a link
  // planted there.
  const std::filesystem::path temp = ctx.env->home / "Temp";
  std::string reason;
  if (!platform::OwnFolder(temp, reason)) {
    ctx.Diagnose("captcha: " + temp.string() + ": " + reason);
    ctx.variables["status"] = "0";
    return StatementResult::Continue();
  }
  const std::string file =
      (temp / ("captcha_" + std::to_string(ctx.id) + "." + split.head)).string();
  HttpClient& http = ctx.http;
  http.SetSaveToPath(file, true);
  Perform(ctx, split.tail, HttpMethod::kGet);
  http.SetSaveToPath("");
  return StatementResult::Continue();
}

StatementResult ExecuteSaveto(ScriptContext& ctx, const std::string& path) {
  ctx.http.SetSaveToPath(NormalizePath(path, ctx.codePage()));
  return StatementResult::Continue();
}

StatementResult ExecuteReferer(ScriptContext& ctx, const std::string& text) {
  ctx.http.SetReferer(text);
  return StatementResult::Continue();
}

StatementResult ExecuteLan(ScriptContext& ctx, const std::string& text) {
  ctx.http.SetAcceptLanguage(text);
  return StatementResult::Continue();
}

StatementResult ExecuteEncoding(ScriptContext& ctx, const std::string& text) {
  ctx.http.SetAcceptEncoding(text);
  return StatementResult::Continue();
}

StatementResult ExecuteImitate(ScriptContext& ctx, const std::string& text) {
  ctx.http.SetUserAgent(text);
  return StatementResult::Continue();
}

StatementResult ExecuteProxy(ScriptContext& ctx, const std::string& text) {
  const FirstWordSplit split = splitFirstWord(text, "", ctx.codePage());
  if (split.found && !split.head.empty()) {
    const long long port = LeadingInteger(split.tail);
    ctx.http.SetProxy(std::string(CodePage::Trim(split.head)),
                      static_cast<uint16_t>(port < 0 ? 0 : port));
  } else {
    ctx.http.SetProxy("", 80);
  }
  return StatementResult::Continue();
}

StatementResult ExecuteTimeout(ScriptContext& ctx, const std::string& text) {
  const FirstWordSplit split = splitFirstWord(text, "", ctx.codePage());
  if (split.found && !split.head.empty()) {
    ctx.http.SetTimeouts(ClampInt32(LeadingInteger(split.head)),
                         ClampInt32(LeadingInteger(split.tail)));
  } else {
    ctx.http.SetTimeouts(0, 0);
  }
  return StatementResult::Continue();
}

StatementResult ExecuteClear(ScriptContext& ctx, const std::string&) {
  ctx.http.ClearForm();
  return StatementResult::Continue();
}

StatementResult ExecuteAdd(ScriptContext& ctx, const std::string& text) {
  const FirstWordSplit split = splitFirstWord(text, "", ctx.codePage());
  AddField(ctx, split, true);
  return StatementResult::Continue();
}

StatementResult ExecuteAddx(ScriptContext& ctx, const std::string& text) {
  const FirstWordSplit split = splitFirstWord(text, "", ctx.codePage());
  AddField(ctx, split, false);
  return StatementResult::Continue();
}

StatementResult ExecuteUpload(ScriptContext& ctx, const std::string&) {
  ctx.http.OpenMultipart();
  return StatementResult::Continue();
}

StatementResult ExecuteUptext(ScriptContext& ctx, const std::string& text) {
  const FirstWordSplit split = splitFirstWord(text, "", ctx.codePage());
  if (ctx.http.sendUtf8()) {
    ctx.http.AddTextPart(ctx.codePage().ToUtf8(split.head), ctx.codePage().ToUtf8(split.tail));
  } else {
    ctx.http.AddTextPart(split.head, split.tail);
  }
  return StatementResult::Continue();
}

StatementResult ExecuteUpfile(ScriptContext& ctx, const std::string& text) {
  const CodePage& cp = ctx.codePage();
  const FirstWordSplit split = splitFirstWord(text, "", cp);
  ctx.http.AddFilePart(split.head, split.tail, Extension(split.tail, cp), cp);
  return StatementResult::Continue();
}

namespace {

// Tells the run's observer of each cookie the script's jar took from the
// shared store ("name=value; name2=value2", as the store answers).
void ReportTakenCookies(RunObserver& observer, const std::string& host, std::string_view cookies) {
  while (!cookies.empty()) {
    const std::size_t end = cookies.find(';');
    std::string_view pair = cookies.substr(0, end);
    cookies = end == std::string_view::npos ? std::string_view() : cookies.substr(end + 1);
    while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
    const std::size_t eq = pair.find('=');
    if (eq == std::string_view::npos || eq == 0) continue;
    observer.CookieChanged(false, host, pair.substr(0, eq), pair.substr(eq + 1));
  }
}

// Tells the run's observer of every cookie of the jar as dropped.
void ReportDroppedCookies(RunObserver& observer, const CookieJar& jar) {
  for (const auto& entry : jar.entries()) observer.CookieChanged(false, {}, entry.first, {});
}

// The host a cookie of the shared store goes with, for the run's observer.
std::string CookieHostOf(const std::string& url) {
  const std::optional<Url> parsed = ParseUrl(url);
  return parsed ? parsed->host : std::string();
}

}  // namespace

StatementResult ExecuteSetCookies(ScriptContext& ctx, const std::string& rawText) {
  const FirstWordSplit split = SplitRaw(ctx, rawText);
  if (split.found) {
    CookieJar& cookies = ctx.http.cookies();
    cookies.Set(split.head, split.tail);
    // Recomputed at once, so the next request sends what the script set.
    cookies.RecomputeCookieText();
    // The script's own cookies go with no domain in particular.
    if (ctx.observer) ctx.observer->CookieChanged(false, {}, split.head, split.tail);
  }
  return StatementResult::Continue();
}

StatementResult ExecuteDelCookies(ScriptContext& ctx, const std::string& key) {
  CookieJar& cookies = ctx.http.cookies();
  const bool held = ctx.observer && cookies.entries().count(key) > 0;
  cookies.Remove(key);
  cookies.RecomputeCookieText();
  if (held) ctx.observer->CookieChanged(false, {}, key, {});
  return StatementResult::Continue();
}

StatementResult ExecuteClearCookies(ScriptContext& ctx, const std::string&) {
  if (ctx.observer) ReportDroppedCookies(*ctx.observer, ctx.http.cookies());
  ctx.http.cookies().Clear();
  return StatementResult::Continue();
}

StatementResult ExecuteGetCookies(ScriptContext& ctx, const std::string& rawText) {
  FirstWordSplit split = splitFirstWord(rawText, "", ctx.codePage());
  // "[#v]" names the variable v: drop the two leading characters and the
  // closing bracket, then expand what is left.
  std::string name =
      split.head.size() >= 3 ? split.head.substr(2, split.head.size() - 3) : std::string();
  ExpandAndEvaluate(ctx, name);
  ExpandAndEvaluate(ctx, split.tail);
  ctx.variables.SetReceived(name, ctx.http.cookies().Get(split.tail));
  return StatementResult::Continue();
}

StatementResult ExecuteSaveCookies(ScriptContext& ctx, const std::string& path) {
  // An empty jar writes nothing and is no failure; any other unwritten
  // file is, and the earlier file stays as it was.
  const CookieJar& jar = ctx.http.cookies();
  if (!jar.entries().empty() && !jar.SaveFile(path, ctx.codePage()) && ctx.env->diagnostic) {
    ctx.env->diagnostic(ctx.id, LastWriteFailure());
  }
  return StatementResult::Continue();
}

StatementResult ExecuteResumeCookies(ScriptContext& ctx, const std::string& path) {
  // The jar is emptied and filled from the file.
  if (ctx.observer) ReportDroppedCookies(*ctx.observer, ctx.http.cookies());
  ctx.http.cookies().LoadFile(path, ctx.codePage());
  if (ctx.observer) {
    for (const auto& [key, value] : ctx.http.cookies().entries()) {
      ctx.observer->CookieChanged(false, {}, key, value);
    }
  }
  return StatementResult::Continue();
}

StatementResult ExecuteSaveIeCookies(ScriptContext& ctx, const std::string& url) {
  CookieStore store(ctx.env->home / "cookies.txt", &ctx.stop);
  const std::string host = ctx.observer ? CookieHostOf(url) : std::string();
  for (const auto& [key, value] : ctx.http.cookies().entries()) {
    if (!store.SetCookie(url, key + "=" + value + "; expires=" + kStoreExpiry)) break;
    if (ctx.observer) ctx.observer->CookieChanged(true, host, key, value);
  }
  if (!store.lastError().empty() && ctx.env->diagnostic) {
    ctx.env->diagnostic(ctx.id, store.lastError());
  }
  return StatementResult::Continue();
}

StatementResult ExecuteResumeIeCookies(ScriptContext& ctx, const std::string& url) {
  const CookieStore store(ctx.env->home / "cookies.txt", &ctx.stop);
  const std::string cookies = store.GetCookies(url);
  if (!store.lastError().empty() && ctx.env->diagnostic) {
    ctx.env->diagnostic(ctx.id, store.lastError());
  }
  if (!cookies.empty()) {
    ctx.http.cookies().ParseCookieText(cookies);
    ctx.http.cookies().RecomputeCookieText();
    if (ctx.observer) ReportTakenCookies(*ctx.observer, CookieHostOf(url), cookies);
  }
  return StatementResult::Continue();
}

StatementResult ExecuteHeader(ScriptContext& ctx, const std::string& text) {
  const FirstWordSplit split = splitFirstWord(text, "", ctx.codePage());
  std::string_view name = split.head;
  // "Name: value" reads as well as "Name value".
  if (!name.empty() && name.back() == ':') name.remove_suffix(1);
  if (!HttpClient::IsHeaderName(name) || !HttpClient::IsHeaderValue(split.tail)) {
    return ctx.Fail(text, msg::kHeaderRefused);
  }
  ctx.http.SetHeader(name, split.tail);
  return StatementResult::Continue();
}

StatementResult ExecuteDelHeader(ScriptContext& ctx, const std::string& name) {
  const std::string_view trimmed = CodePage::Trim(name);
  if (trimmed.empty()) {
    ctx.http.ClearHeaders();
  } else {
    ctx.http.RemoveHeader(trimmed.back() == ':' ? trimmed.substr(0, trimmed.size() - 1) : trimmed);
  }
  return StatementResult::Continue();
}

StatementResult ExecuteBody(ScriptContext& ctx, const std::string& text) {
  const FirstWordSplit split = splitFirstWord(text, "", ctx.codePage());
  if (split.head.empty() || !HttpClient::IsHeaderValue(split.head)) {
    return ctx.Fail(text, msg::kFormatError);
  }
  ctx.http.SetBody(split.head,
                   ctx.http.sendUtf8() ? ctx.codePage().ToUtf8(split.tail) : split.tail);
  return StatementResult::Continue();
}

StatementResult ExecuteBodyFile(ScriptContext& ctx, const std::string& text) {
  const FirstWordSplit split = splitFirstWord(text, "", ctx.codePage());
  if (split.head.empty() || split.tail.empty() || !HttpClient::IsHeaderValue(split.head)) {
    return ctx.Fail(text, msg::kFormatError);
  }
  // The file's bytes go out as they are stored.
  const std::string path = NormalizePath(split.tail, ctx.codePage());
  std::error_code ec;
  std::string bytes;
  bool read = std::filesystem::is_regular_file(path, ec);
  if (read) {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    read = !in.bad();
  }
  if (!read) return ctx.Fail(text, split.tail + msg::kBodyFileMissingSuffix);
  ctx.http.SetBody(split.head, std::move(bytes));
  return StatementResult::Continue();
}

StatementResult ExecutePut(ScriptContext& ctx, const std::string& url) {
  RunRequest(ctx, url, HttpMethod::kPut);
  return StatementResult::Continue();
}

StatementResult ExecutePatch(ScriptContext& ctx, const std::string& url) {
  RunRequest(ctx, url, HttpMethod::kPatch);
  return StatementResult::Continue();
}

StatementResult ExecuteDelete(ScriptContext& ctx, const std::string& url) {
  RunRequest(ctx, url, HttpMethod::kDelete);
  return StatementResult::Continue();
}

StatementResult ExecuteRedirect(ScriptContext& ctx, const std::string& text) {
  const long long count = LeadingInteger(CodePage::Trim(text));
  ctx.http.SetMaxRedirects(static_cast<int>(std::clamp<long long>(count, 0, 1000)));
  return StatementResult::Continue();
}

StatementResult ExecuteDecode(ScriptContext& ctx, const std::string& text) {
  ctx.http.SetDecodeBodies(SwitchedOn(text));
  return StatementResult::Continue();
}

StatementResult ExecuteKeepAlive(ScriptContext& ctx, const std::string& text) {
  ctx.http.SetKeepAlive(SwitchedOn(text));
  return StatementResult::Continue();
}

StatementResult ExecuteSendUtf8(ScriptContext& ctx, const std::string& text) {
  ctx.http.SetSendUtf8(SwitchedOn(text));
  return StatementResult::Continue();
}

}  // namespace velmar
