#include "http/http_client.h"

#include <optional>

#include "http/response_reader.h"
#include "platform/stop_signal.h"

namespace velmar {

RequestResult HttpClient::Perform(const std::string& url, HttpMethod method) {
  requestUrl_ = url;
  lastError_.clear();
  std::optional<Url> parsed = ParseUrl(requestUrl_);
  url_ = parsed ? std::move(*parsed) : Url{};
  if (!parsed) {
    lastError_ = "not a URL that can be requested: " + requestUrl_.substr(0, 200);
    return RequestResult::kFailed;
  }

  ConnectionSettings settings;
  settings.proxyAddress = proxyAddress_;
  settings.proxyPort = proxyPort_;
  settings.receiveTimeoutMs = receiveTimeout_;
  settings.sendTimeoutMs = sendTimeout_;
  settings.userAgent = userAgent_;
  settings.stop = stop_;
  if (!connection_.Open(url_, settings, lastError_)) {
    connection_.Close();
    return RequestResult::kFailed;
  }

  RequestHeaders headers;
  headers.referer = referer_;
  headers.acceptLanguage = acceptLanguage_;
  headers.acceptEncoding = acceptEncoding_;
  headers.userAgent = userAgent_;
  headers.cookies = cookies_.CookieText();
  WriteRequest(method, url_, !proxyAddress_.empty(), headers, form_,
               [this](std::string_view bytes) { connection_.Send(bytes); });
  // The page just asked for is the referrer of the next request.
  referer_ = requestUrl_;

  const bool ok = ReadResponse();
  if (!ok) connection_.Close();
  return ok ? RequestResult::kCompleted : RequestResult::kFailed;
}

bool HttpClient::StopRequested() const {
  return stop_ && stop_->requested();
}

bool HttpClient::ReadResponse() {
  responseHeaders_.clear();
  ReadHeaderBlock(connection_, responseHeaders_, kHeaderLimit);
  responseBody_.clear();
  responseUntaken_ = true;
  bool tooLarge = false;
  bool saved = true;
  if (!saveToPath_.empty()) {
    saved = ReadBodyToFile(connection_, saveToPath_, !saveToOwnFile_, lastError_);
  } else {
    tooLarge = !ReadBodyToMemory(connection_, responseBody_, kMaxMemoryBody);
  }
  connection_.Close();
  const bool stopped = StopRequested();
  if (tooLarge || stopped) {
    // The part that arrived is no answer to the request: dropped, with its
    // memory, rather than left looking like the whole body (and, after a
    // stop, rather than copied and scanned on the way into http_body while
    // the script should be ending).
    std::string().swap(responseBody_);
    lastError_ = stopped ? "stopped"
                         : "response body larger than " + std::to_string(kMaxMemoryBody) + " bytes";
  }
  cookies_.TakeSetCookies(responseHeaders_);
  return !tooLarge && !stopped && saved;
}

void HttpClient::SetProxy(std::string address, uint16_t port) {
  proxyAddress_ = std::move(address);
  proxyPort_ = port;
}

void HttpClient::SetTimeouts(int32_t receiveMs, int32_t sendMs) {
  receiveTimeout_ = receiveMs;
  sendTimeout_ = sendMs;
}

void HttpClient::SetTlsVerification(bool verify, std::string caFile) {
  connection_.SetTlsVerification(verify, std::move(caFile));
  tlsSettingsLoaded_ = true;
}

}  // namespace velmar
