#pragma once
// The HTTP client of one script: URL parsing, one TCP connection per request
// (optionally TLS, optionally through a proxy), the HTTP/1.0 request writer,
// the response reader, the url-encoded and multipart form bodies and the
// script's cookie jar. Only the script's worker thread uses it; the stop
// signal may cut a request short from another thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "http/cookie_jar.h"
#include "values/text_limits.h"

struct ssl_ctx_st;
struct ssl_st;

namespace velmar {

class StopSignal;

struct FilePart {
  std::string fieldName;
  std::string fileName;  // the path as the script wrote it
  std::string contentType;
  std::string bytes;
  std::size_t length = 0;
};

enum class HttpMethod { kGet, kPost };

// The outcome of a whole request; a completed one may still carry an error
// status of the server (the script reads it from the headers).
enum class RequestResult { kFailed, kCompleted };

class HttpClient {
 public:
  static constexpr int kSchemeCapacity = 20;
  // A longer name is no valid host name (DNS allows 255 bytes at most), so
  // such a URL fails instead of reaching a server under a cut name. Paths
  // have no limit: the server gets the URL exactly as the script wrote it.
  static constexpr std::size_t kMaxHostLength = 255;
  static constexpr int kConnectLimitMs = 5000;
  // Past this many bytes the header block ends and the rest is body.
  static constexpr std::size_t kHeaderLimit = 1 << 20;
  // A body read into memory may not grow past the size of any script text
  // (it becomes `http_body`); a larger one fails the request. Downloads with
  // `saveto` go to the file and have no limit.
  static constexpr std::size_t kMaxMemoryBody = kMaxExpandedTextSize;
  static constexpr const char* kInitialUserAgent =
      "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.2; SV1; .NET CLR 1.1.4322; InfoPath.2; "
      ".NET CLR 2.0.50727; MAXTHON 2.0)";

  HttpClient();
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // The whole request: parse, connect, write, read. 1 on success, else 0.
  RequestResult Perform(const std::string& url, HttpMethod method);

  void SetRequestUrl(std::string url) { requestUrl_ = std::move(url); }
  bool ParseUrl();
  bool Connect();
  bool WriteRequest(HttpMethod method);
  bool ReadResponse();
  void SendBytes(const char* bytes, std::size_t length);
  // Count read, 0 at the end of the stream, negative on error.
  long ReceiveBytes(char* buffer, std::size_t capacity);
  void Close();

  // Connection settings.
  void SetProxy(std::string address, uint16_t port);
  void SetTimeouts(int32_t receiveMs, int32_t sendMs);
  // Certificate checking of secure requests: with `verify` the peer must
  // present a chain that ends in the system store (or in `caFile`, a PEM file
  // of extra trusted certificates, when not empty) and match the host name.
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
  void SetSaveToPath(std::string_view path) { saveToPath_ = path; }

  // Url-encoded form.
  void AddFormField(std::string_view name, std::string_view value, bool encode);
  void ClearForm() { formData_.clear(); }
  // Multipart form.
  void OpenMultipart();
  void AddTextPart(std::string_view name, std::string_view value);
  // Reads the file at once; `extension` is already lower-cased. The path is
  // sent as the script wrote it and opened after normalising it with `cp`.
  void AddFilePart(std::string_view name, std::string_view path, std::string_view extension,
                   const CodePage& cp);

  CookieJar& cookies() { return cookies_; }
  const CookieJar& cookies() const { return cookies_; }

  const std::string& requestUrl() const { return requestUrl_; }
  const std::string& scheme() const { return scheme_; }
  const std::string& host() const { return host_; }
  const std::string& path() const { return path_; }
  int port() const { return port_; }
  bool secure() const { return secure_; }
  const std::string& proxyAddress() const { return proxyAddress_; }
  uint16_t proxyPort() const { return proxyPort_; }
  int32_t receiveTimeout() const { return receiveTimeout_; }
  int32_t sendTimeout() const { return sendTimeout_; }
  const std::string& referer() const { return referer_; }
  const std::string& acceptLanguage() const { return acceptLanguage_; }
  const std::string& acceptEncoding() const { return acceptEncoding_; }
  const std::string& userAgent() const { return userAgent_; }
  const std::string& saveToPath() const { return saveToPath_; }
  const std::string& formData() const { return formData_; }
  const std::string& boundary() const { return boundary_; }
  const std::string& textParts() const { return textParts_; }
  const std::vector<std::unique_ptr<FilePart>>& fileParts() const { return fileParts_; }
  std::string ResponseHeaders() const { return responseHeaders_; }
  std::string ResponseBody() const { return responseBody_; }
  // Hands the body over without copying it (a large page is held once); the
  // client's body is empty afterwards.
  std::string TakeResponseBody() { return std::move(responseBody_); }
  const std::string& responseHeaders() const { return responseHeaders_; }
  const std::string& responseBody() const { return responseBody_; }
  // Why the last request failed, for diagnostics (the TLS library's reason
  // for a failed handshake, or a body past its limit); empty after a success.
  const std::string& lastError() const { return lastError_; }

 private:
  bool OpenTunnel();
  bool StartTls();
  void WriteConnectionLines(std::string& out) const;
  void WriteUrlEncodedSection(std::string& out);
  void WriteMultipartSection(std::string& out);
  void Flush(std::string& out);
  // Fills the read buffer; the count read, 0 at the end, negative on error.
  long FillBuffer();
  bool ReadHeaderBlock(std::string& headers);
  bool StopRequested() const;
  void ReleaseHook();

  // URL and connection.
  std::string requestUrl_;
  int socket_ = -1;
  ssl_ctx_st* tlsContext_ = nullptr;
  ssl_st* tlsConnection_ = nullptr;
  int port_ = 80;
  std::string scheme_;
  std::string host_;
  std::string path_;
  bool secure_ = false;
  std::string proxyAddress_;
  uint16_t proxyPort_ = 80;
  int32_t receiveTimeout_ = 0;
  int32_t sendTimeout_ = 0;
  bool tlsVerify_ = true;
  std::string caFile_;
  bool tlsSettingsLoaded_ = false;
  StopSignal* stop_ = nullptr;
  bool hookSet_ = false;

  // Request and response.
  std::string referer_;
  std::string acceptLanguage_ = "zh-cn";
  std::string acceptEncoding_;
  std::string userAgent_ = kInitialUserAgent;
  std::string responseHeaders_;
  std::string responseBody_;
  std::string saveToPath_;
  std::string lastError_;

  // Forms.
  std::string formData_;
  std::string boundary_;
  std::string textParts_;
  std::vector<std::unique_ptr<FilePart>> fileParts_;

  CookieJar cookies_;

  // Buffered reading of the current connection.
  std::unique_ptr<char[]> readBuffer_;
  std::size_t readPos_ = 0;
  std::size_t readEnd_ = 0;
};

}  // namespace velmar
