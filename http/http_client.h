#pragma once
// The HTTP client of one script, the front the statements use: it keeps the
// script's request settings, form and cookie jar, and runs a request
// through the layers below it (URL, connection, request writer, response
// reader). Only the script's worker thread uses it; the stop signal may cut
// a request short from another thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "http/connection.h"
#include "http/cookie_jar.h"
#include "http/request_writer.h"
#include "http/url.h"
#include "values/failure_texts.h"
#include "values/run_observer.h"
#include "values/text_limits.h"

namespace velmar {

class StopSignal;

// The outcome of a whole request; a completed one may still carry an error
// status of the server (the script reads it from the headers).
enum class RequestResult { kFailed, kCompleted };

class HttpClient {
 public:
  static constexpr std::size_t kHeaderLimit = Connection::kHeaderLimit;
  // A body read into memory may not grow past the size of any script text
  // (it becomes `http_body`); a larger one fails the request. Downloads with
  // `saveto` go to the file and have no limit.
  static constexpr std::size_t kMaxMemoryBody = kMaxExpandedTextSize;
  static constexpr const char* kInitialUserAgent =
      "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.2; SV1; .NET CLR 1.1.4322; InfoPath.2; "
      ".NET CLR 2.0.50727; MAXTHON 2.0)";

  // The whole request: parse, connect, write, read, and, when the script
  // asked for it, follow redirects.
  RequestResult Perform(const std::string& url, HttpMethod method);

  // Redirects followed by the following requests; 0 (the default) follows
  // none.
  void SetMaxRedirects(int count) { maxRedirects_ = count < 0 ? 0 : count; }
  int maxRedirects() const { return maxRedirects_; }
  // Chunked and gzip/deflate bodies decoded on the way in.
  void SetDecodeBodies(bool decode) { decodeBodies_ = decode; }
  bool decodeBodies() const { return decodeBodies_; }
  // Requests to one host and port over one kept HTTP/1.1 connection.
  void SetKeepAlive(bool keep);
  bool keepAlive() const { return keepAlive_; }
  // Form values and bodies the statements hand over go out as UTF-8.
  void SetSendUtf8(bool utf8) { sendUtf8_ = utf8; }
  bool sendUtf8() const { return sendUtf8_; }

  // The script's own request headers. A name set again replaces its value
  // (names compared without letter case). The statements refuse names and
  // values that could end the header line (see IsHeaderText).
  void SetHeader(std::string_view name, std::string_view value);
  void RemoveHeader(std::string_view name);
  void ClearHeaders() { extraHeaders_.clear(); }
  const std::vector<std::pair<std::string, std::string>>& extraHeaders() const {
    return extraHeaders_;
  }
  // A header name is a token (no blank, colon or control byte); a value may
  // hold anything but CR, LF and NUL.
  static bool IsHeaderName(std::string_view name);
  static bool IsHeaderValue(std::string_view value);
  // The body of the next POST, PUT, PATCH or DELETE, instead of a form.
  void SetBody(std::string contentType, std::string bytes);
  bool hasBody() const { return form_.rawBody != nullptr; }

  // Connection settings.
  void SetProxy(std::string address, uint16_t port);
  void SetTimeouts(int32_t receiveMs, int32_t sendMs);
  // Certificate checking of secure requests (see Connection).
  void SetTlsVerification(bool verify, std::string caFile);
  bool TlsSettingsLoaded() const { return tlsSettingsLoaded_; }
  // The stop signal whose request aborts a request in progress.
  void SetStopSignal(StopSignal* stop) { stop_ = stop; }

  // Request headers.
  void SetReferer(std::string_view text) { referer_ = text; }
  void SetAcceptLanguage(std::string_view text) { acceptLanguage_ = text; }
  void SetAcceptEncoding(std::string_view text) { acceptEncoding_ = text; }
  void SetUserAgent(std::string_view text) { userAgent_ = text; }
  // A path as the system takes it: the statements turn the script's `\`
  // separators into `/` with the script's code page first.
  // `ownFile`: a file the programs name themselves under the home folder
  // (a captcha image), where a planted link is replaced, not written
  // through; a path from the script is written through its links.
  void SetSaveToPath(std::string_view path, bool ownFile = false) {
    saveToPath_ = path;
    saveToOwnFile_ = ownFile;
  }

  // Url-encoded form.
  void AddFormField(std::string_view name, std::string_view value, bool encode) {
    form_.AddField(name, value, encode);
  }
  void ClearForm() { form_.urlEncoded.clear(); }
  // Multipart form.
  void OpenMultipart() { form_.OpenMultipart(); }
  void AddTextPart(std::string_view name, std::string_view value) {
    form_.AddTextPart(name, value);
  }
  void AddFilePart(std::string_view name, std::string_view path, std::string_view extension,
                   const CodePage& cp) {
    form_.AddFilePart(name, path, extension, cp);
  }

  CookieJar& cookies() { return cookies_; }
  const CookieJar& cookies() const { return cookies_; }

  const std::string& requestUrl() const { return requestUrl_; }
  // The parts of the last request's URL (empty when it did not parse).
  const Url& url() const { return url_; }
  const std::string& proxyAddress() const { return proxyAddress_; }
  uint16_t proxyPort() const { return proxyPort_; }
  int32_t receiveTimeout() const { return receiveTimeout_; }
  int32_t sendTimeout() const { return sendTimeout_; }
  const std::string& referer() const { return referer_; }
  const std::string& acceptLanguage() const { return acceptLanguage_; }
  const std::string& acceptEncoding() const { return acceptEncoding_; }
  const std::string& userAgent() const { return userAgent_; }
  const std::string& saveToPath() const { return saveToPath_; }
  const std::string& formData() const { return form_.urlEncoded; }
  const std::string& boundary() const { return form_.boundary; }
  const std::string& textParts() const { return form_.textParts; }
  const std::vector<std::unique_ptr<FilePart>>& fileParts() const { return form_.fileParts; }
  const std::string& responseHeaders() const { return responseHeaders_; }
  const std::string& responseBody() const { return responseBody_; }
  // The status code of the last response the last request read; 0 when it
  // read none.
  int statusCode() const { return statusCode_; }
  // The URL whose response was read last: the request URL, or where its
  // redirects led.
  const std::string& finalUrl() const { return finalUrl_; }
  // Hands the body over without copying it (a large page is held once); the
  // client's body is empty afterwards.
  std::string TakeResponseBody() {
    responseUntaken_ = false;
    return std::move(responseBody_);
  }
  // Whether a response was read since the body was last taken.
  bool HasUntakenResponse() const { return responseUntaken_; }
  // Why the last request failed (kNone after a success), and its text for
  // diagnostics (the TLS library's reason for a failed handshake, a body
  // past its limit, ...); empty after a success.
  const HttpError& failure() const { return failure_; }
  std::string lastError() const { return Describe(failure_); }
  // Whether the last secure connection resumed an earlier TLS session.
  bool tlsResumed() const { return tlsResumed_; }

  // Who is told of every exchange (see values/run_observer.h); null: nobody.
  void SetObserver(RunObserver* observer) { observer_ = observer; }
  RunObserver* observer() const { return observer_; }

 private:
  bool StopRequested() const;
  // One request and its response, no redirect followed.
  bool PerformOnce(const std::string& url, HttpMethod method, const RawBody* body,
                   std::string_view referer);
  bool Exchange(const std::string& url, HttpMethod method, const RawBody* body,
                std::string_view referer);
  // What an observed exchange collects on its way for the observer.
  struct Watch;
  Watch* watch_ = nullptr;
  void ReportCookies();
  bool ReadResponse(HttpMethod method);
  bool ReadBody(HttpMethod method, bool& reusable);

  Connection connection_;
  std::string requestUrl_;
  Url url_;
  std::string proxyAddress_;
  uint16_t proxyPort_ = 80;
  int32_t receiveTimeout_ = 0;
  int32_t sendTimeout_ = 0;
  bool tlsSettingsLoaded_ = false;
  StopSignal* stop_ = nullptr;

  // Request and response.
  std::string referer_;
  std::string acceptLanguage_ = "zh-cn";
  std::string acceptEncoding_;
  std::string userAgent_ = kInitialUserAgent;
  std::string responseHeaders_;
  std::string responseBody_;
  bool responseUntaken_ = false;
  std::string saveToPath_;
  bool saveToOwnFile_ = false;
  HttpError failure_;
  int statusCode_ = 0;
  std::string finalUrl_;
  std::vector<std::pair<std::string, std::string>> extraHeaders_;
  int maxRedirects_ = 0;
  RunObserver* observer_ = nullptr;
  bool decodeBodies_ = false;
  bool keepAlive_ = false;
  bool sendUtf8_ = false;
  // The kept connection's target ("HTTPS host:port" and the proxy), empty
  // when no connection is kept.
  std::string keptTarget_;
  bool reusable_ = false;
  bool tlsResumed_ = false;  // the last response left the connection usable

  RequestForm form_;
  CookieJar cookies_;
};

}  // namespace velmar
