#include "http/http_client.h"

#include <chrono>
#include <cstdio>
#include <limits>
#include <optional>

#include "http/body_decoder.h"
#include "http/response_headers.h"
#include "http/response_reader.h"
#include "platform/durable_file.h"
#include "platform/stop_signal.h"

namespace velmar {
namespace {

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

RequestResult HttpClient::Perform(const std::string& url, HttpMethod method) {
  requestUrl_ = url;
  failure_.Clear();
  statusCode_ = 0;
  finalUrl_.clear();
  // The body is used up by this request, redirects included.
  const std::unique_ptr<RawBody> body =
      method == HttpMethod::kGet ? nullptr : std::move(form_.rawBody);
  const std::string referer = referer_;
  const bool sentMultipart = !form_.boundary.empty();
  std::string current = url;
  HttpMethod currentMethod = method;
  const RawBody* currentBody = body.get();
  for (int hop = 0;; ++hop) {
    if (!PerformOnce(current, currentMethod, currentBody, referer)) {
      return RequestResult::kFailed;
    }
    finalUrl_ = current;
    if (maxRedirects_ == 0 || !IsRedirect(statusCode_)) break;
    const std::string location = HeaderValue(responseHeaders_, "Location");
    if (location.empty()) break;
    // A multipart body is gone once sent; a redirect that wants it again
    // is left to the script.
    const bool keepsMethod = statusCode_ == 307 || statusCode_ == 308;
    if (keepsMethod && sentMultipart && currentMethod != HttpMethod::kGet) break;
    if (hop >= maxRedirects_) {
      failure_.Set(HttpFailure::kTooManyRedirects,
                   {std::to_string(maxRedirects_), current.substr(0, 200), location.substr(0, 200)});
      return RequestResult::kFailed;
    }
    const std::string next = ResolveReference(current, location);
    if (next.empty()) break;
    // As browsers do: 303 always, and 301 and 302 after a POST, go on with
    // GET and without the body.
    if (statusCode_ == 303 || (!keepsMethod && currentMethod == HttpMethod::kPost)) {
      currentMethod = HttpMethod::kGet;
      currentBody = nullptr;
    }
    current = next;
  }
  if (maxRedirects_ > 0) referer_ = finalUrl_;
  return RequestResult::kCompleted;
}

struct HttpClient::Watch {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point firstByte;
  bool opened = false;
  bool answered = false;
  std::string request;
  Connection::OpenTimes times;
  Connection::TlsFacts tls;
};

bool HttpClient::PerformOnce(const std::string& url, HttpMethod method, const RawBody* body,
                             std::string_view referer) {
  if (!observer_) return Exchange(url, method, body, referer);
  Watch watch;
  watch_ = &watch;
  const bool ok = Exchange(url, method, body, referer);
  watch_ = nullptr;
  const auto since = [&](std::chrono::steady_clock::time_point at) -> int64_t {
    if (at == std::chrono::steady_clock::time_point()) return -1;
    return std::chrono::duration_cast<std::chrono::microseconds>(at - watch.start).count();
  };
  HttpExchangeReport report;
  report.method = MethodName(method);
  report.url = requestUrl_;
  report.requestBytes = watch.request;
  if (watch.answered) {
    report.responseHead = responseHeaders_;
    report.responseBody = responseBody_;
    report.responseBodySize = responseBody_.size();
    report.status = statusCode_;
  }
  const std::string failure = ok ? std::string() : lastError();
  if (!ok) report.failure = failure.empty() ? std::string_view("failed") : std::string_view(failure);
  const std::string proxy =
      proxyAddress_.empty() ? std::string() : proxyAddress_ + ":" + std::to_string(proxyPort_);
  report.proxy = proxy;
  if (watch.opened) {
    report.resolvedUs = since(watch.times.resolved);
    report.connectedUs = since(watch.times.connected);
    report.tlsDoneUs = since(watch.times.secured);
  }
  report.firstByteUs = since(watch.firstByte);
  report.totalUs = since(std::chrono::steady_clock::now());
  report.tlsVersion = watch.tls.version;
  report.tlsCipher = watch.tls.cipher;
  report.peerSubject = watch.tls.subject;
  report.peerIssuer = watch.tls.issuer;
  observer_->HttpExchange(report);
  if (watch.answered) ReportCookies();
  return ok;
}

void HttpClient::ReportCookies() {
  // The jar took every Set-Cookie of the response; each is told as taken.
  std::size_t pos = 0;
  const std::string_view head = responseHeaders_;
  while (pos < head.size()) {
    std::size_t end = head.find('\n', pos);
    if (end == std::string_view::npos) end = head.size();
    std::string_view line = head.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    constexpr std::string_view kName = "set-cookie:";
    if (line.size() <= kName.size()) continue;
    bool named = true;
    for (std::size_t i = 0; i < kName.size() && named; ++i) {
      char c = line[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
      named = c == kName[i];
    }
    if (!named) continue;
    std::string_view cookie = line.substr(kName.size());
    while (!cookie.empty() && cookie.front() == ' ') cookie.remove_prefix(1);
    cookie = cookie.substr(0, cookie.find(';'));
    const std::size_t eq = cookie.find('=');
    if (eq == std::string_view::npos) continue;
    observer_->CookieChanged(false, url_.host, cookie.substr(0, eq), cookie.substr(eq + 1));
  }
}

bool HttpClient::Exchange(const std::string& url, HttpMethod method, const RawBody* body,
                          std::string_view referer) {
  requestUrl_ = url;
  std::optional<Url> parsed = ParseUrl(requestUrl_);
  url_ = parsed ? std::move(*parsed) : Url{};
  if (!parsed) {
    connection_.Close();
    keptTarget_.clear();
    failure_.Set(HttpFailure::kBadUrl, {requestUrl_.substr(0, 200)});
    return false;
  }

  ConnectionSettings settings;
  settings.proxyAddress = proxyAddress_;
  settings.proxyPort = proxyPort_;
  settings.receiveTimeoutMs = receiveTimeout_;
  settings.sendTimeoutMs = sendTimeout_;
  settings.userAgent = userAgent_;
  settings.stop = stop_;
  settings.resumeTls = keepAlive_;
  const std::string target = std::string(url_.scheme()) + " " + url_.host + ":" +
                             std::to_string(url_.port) + " via " + proxyAddress_ + ":" +
                             std::to_string(proxyPort_);
  bool reused = keepAlive_ && keptTarget_ == target && connection_.Idle();
  if (!reused) {
    keptTarget_.clear();
    const bool opened = connection_.Open(url_, settings, failure_);
    if (watch_) {
      watch_->opened = true;
      watch_->times = connection_.openTimes();
      if (opened) watch_->tls = connection_.tlsFacts();
    }
    if (!opened) {
      connection_.Close();
      return false;
    }
    tlsResumed_ = connection_.TlsResumed();
  }

  RequestHeaders headers;
  headers.referer = referer;
  headers.acceptLanguage = acceptLanguage_;
  headers.acceptEncoding = acceptEncoding_;
  headers.userAgent = userAgent_;
  headers.cookies = cookies_.CookieText(url_.secure);
  headers.extra = &extraHeaders_;
  headers.keepAlive = keepAlive_;
  if (!keepAlive_) {
    WriteRequest(method, url_, !proxyAddress_.empty(), headers, form_, body,
                 [this](std::string_view bytes) {
                   if (watch_) watch_->request += bytes;
                   connection_.Send(bytes);
                 });
  } else {
    // Kept whole, so it can go out again on a fresh connection when the
    // server has closed the kept one in the meantime.
    std::string request;
    WriteRequest(method, url_, !proxyAddress_.empty(), headers, form_, body,
                 [&request](std::string_view bytes) { request += bytes; });
    if (watch_) watch_->request = request;
    connection_.Send(request);
    const long first = reused ? connection_.Fill() : 1;
    if (reused && (first == 0 || (first < 0 && connection_.ReceiveReset())) && !StopRequested()) {
      // Not one byte back on the kept connection: the server closed it
      // before the request reached it. Once more on a new one.
      connection_.Close();
      reused = false;
      if (!connection_.Open(url_, settings, failure_)) {
        connection_.Close();
        return false;
      }
      connection_.Send(request);
    }
  }
  // The page just asked for is the referrer of the next request.
  referer_ = requestUrl_;

  reusable_ = false;
  const bool ok = ReadResponse(method);
  if (ok && reusable_) {
    keptTarget_ = target;
  } else {
    connection_.Close();
    keptTarget_.clear();
  }
  return ok;
}

bool HttpClient::StopRequested() const {
  return stop_ && stop_->requested();
}

bool HttpClient::ReadResponse(HttpMethod method) {
  std::string headers;
  ReadHeaderBlock(connection_, headers, kHeaderLimit);
  if (headers.empty() && connection_.ReceiveFailed()) {
    // Not one byte of a status line before the receive time-out: there is
    // no response to report (the last one stays), and an empty head must not
    // pass for one.
    connection_.Close();
    // A stop shuts the socket down, which ends the wait like a time-out;
    // it is still the stop that ended it.
    if (StopRequested()) {
      failure_.Set(HttpFailure::kStopped);
    } else {
      failure_.Set(HttpFailure::kNoResponse, {url_.host, std::to_string(url_.port)});
    }
    return false;
  }
  responseHeaders_ = std::move(headers);
  statusCode_ = StatusCodeOf(responseHeaders_);
  if (watch_) {
    watch_->answered = true;
    watch_->firstByte = std::chrono::steady_clock::now();
  }
  responseBody_.clear();
  responseUntaken_ = true;
  const bool ok = ReadBody(method, reusable_);
  if (!reusable_) connection_.Close();
  const bool stopped = StopRequested();
  if (!ok || stopped) {
    // The part that arrived is no answer to the request: dropped, with its
    // memory, rather than left looking like the whole body (and, after a
    // stop, rather than copied and scanned on the way into http_body while
    // the script should be ending).
    std::string().swap(responseBody_);
    if (stopped) failure_.Set(HttpFailure::kStopped);
  }
  cookies_.TakeSetCookies(responseHeaders_);
  return ok && !stopped;
}

bool HttpClient::ReadBody(HttpMethod, bool& reusable) {
  const bool chunked = (decodeBodies_ || keepAlive_) && IsChunked(responseHeaders_);
  const ContentCoding coding =
      decodeBodies_ ? ContentCodingOf(responseHeaders_) : ContentCoding::kIdentity;
  if (!keepAlive_ && !chunked && coding == ContentCoding::kIdentity) {
    // The body as it arrives, up to the close.
    if (!saveToPath_.empty()) {
      std::string reason;
      if (ReadBodyToFile(connection_, saveToPath_, !saveToOwnFile_, reason)) return true;
      failure_.Set(HttpFailure::kSaveFailed, {std::move(reason)});
      return false;
    }
    if (!ReadBodyToMemory(connection_, responseBody_, kMaxMemoryBody)) {
      failure_.Set(HttpFailure::kBodyTooLarge, {std::to_string(kMaxMemoryBody)});
      return false;
    }
    return true;
  }

  // Framed or decoded: fed through the decoder, which the size limit and the
  // stop reach.
  const bool noBody = HasNoBody(statusCode_);
  long long left = noBody ? 0 : (chunked ? -1 : (keepAlive_ ? ContentLengthOf(responseHeaders_) : -1));
  reusable = keepAlive_ && KeepsConnection(responseHeaders_) && (noBody || chunked || left >= 0);
  BodyDecoder decoder(chunked, coding);
  // A download goes into a file beside its target that takes the target's
  // place only when the whole body was decoded.
  const bool toFile = !saveToPath_.empty();
  platform::ReplacingFile file;
  bool written = true;
  std::string fileReason;
  if (toFile) {
    platform::FileWriteOptions options;
    options.followLink = !saveToOwnFile_;
    if (!file.Open(saveToPath_, options, fileReason)) {
      failure_.Set(HttpFailure::kSaveFailed, {std::move(fileReason)});
      return false;
    }
  }
  std::string scratch;
  std::string& out = toFile ? scratch : responseBody_;
  const std::size_t limit = toFile ? std::numeric_limits<std::size_t>::max() : kMaxMemoryBody;
  const auto stopped = [this] { return StopRequested(); };
  BodyDecoder::Result result = BodyDecoder::Result::kMore;
  bool ended = false;
  while (left != 0 && !StopRequested()) {
    if (connection_.Buffered().empty() && connection_.Fill() <= 0) {
      ended = true;
      break;
    }
    std::string_view block = connection_.Buffered();
    if (left > 0 && static_cast<unsigned long long>(left) < block.size()) {
      block = block.substr(0, static_cast<std::size_t>(left));
    }
    result = decoder.Feed(block, out, limit, stopped);
    const std::size_t used = decoder.consumed();
    connection_.Take(used);
    if (left > 0) left -= static_cast<long long>(used);
    // After a failed write the rest is still read, so the connection ends
    // as it does for any other response.
    if (toFile && written && !out.empty()) written = file.Write(out, fileReason);
    if (toFile) out.clear();
    if (result == BodyDecoder::Result::kTooLarge || result == BodyDecoder::Result::kBroken ||
        result == BodyDecoder::Result::kStopped) {
      break;
    }
    if (result == BodyDecoder::Result::kDone && chunked) break;
  }
  if (ended || left > 0 || (chunked && !decoder.complete())) reusable = false;
  switch (result) {
    case BodyDecoder::Result::kTooLarge:
      failure_.Set(HttpFailure::kBodyTooLarge, {std::to_string(kMaxMemoryBody)});
      return false;
    case BodyDecoder::Result::kBroken:
      failure_.Set(chunked ? HttpFailure::kBodyBroken : HttpFailure::kBodyNotCompressed);
      return false;
    default:
      break;
  }
  if (toFile) {
    if (StopRequested()) return false;
    if (!written || !file.Commit(fileReason)) {
      failure_.Set(HttpFailure::kSaveFailed, {std::move(fileReason)});
      return false;
    }
  }
  return true;
}

void HttpClient::SetKeepAlive(bool keep) {
  keepAlive_ = keep;
  if (!keep) {
    connection_.Close();
    keptTarget_.clear();
  }
}

bool HttpClient::IsHeaderName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    // A token: no blank, control byte or separator.
    if (u <= 32 || u >= 127 || std::string_view("()<>@,;:\\\"/[]?={}").find(c) != std::string_view::npos) {
      return false;
    }
  }
  return true;
}

bool HttpClient::IsHeaderValue(std::string_view value) {
  return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

void HttpClient::SetHeader(std::string_view name, std::string_view value) {
  for (auto& [n, v] : extraHeaders_) {
    if (SameNameIgnoringCase(n, name)) {
      v = value;
      return;
    }
  }
  extraHeaders_.emplace_back(std::string(name), std::string(value));
}

void HttpClient::RemoveHeader(std::string_view name) {
  std::erase_if(extraHeaders_, [name](const auto& h) { return SameNameIgnoringCase(h.first, name); });
}

void HttpClient::SetBody(std::string contentType, std::string bytes) {
  form_.rawBody = std::make_unique<RawBody>();
  form_.rawBody->contentType = std::move(contentType);
  form_.rawBody->bytes = std::move(bytes);
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
