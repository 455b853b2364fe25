#include "http/http_client.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "http/md5_crypt.h"
#include "http/mime_table.h"
#include "http/response_reader.h"
#include "platform/stop_signal.h"
#include "values/text_file_ops.h"

namespace velmar {
namespace {

constexpr std::size_t kReadBufferSize = 64 * 1024;
// Writes are gathered up to this size; larger file parts go out directly.
constexpr std::size_t kDirectSendSize = 64 * 1024;

void InitTlsOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    // The TLS layer writes to the socket with plain write(); a peer that has
    // gone away must give an error there, not end the whole program.
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      signal(SIGPIPE, SIG_IGN);
    }
  });
}

bool IsHostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == ':';
}

bool IsIpLiteral(const std::string& host) {
  in_addr v4{};
  in6_addr v6{};
  return inet_pton(AF_INET, host.c_str(), &v4) == 1 || inet_pton(AF_INET6, host.c_str(), &v6) == 1;
}

// Resolves a name; IPv4 addresses come first, the first one that gives a
// socket is used.
struct Resolved {
  sockaddr_storage address{};
  socklen_t length = 0;
  int family = AF_INET;
};

bool Resolve(const std::string& name, int port, std::vector<Resolved>& out) {
  if (port <= 0 || port > 65535) return false;
  in_addr v4{};
  if (inet_pton(AF_INET, name.c_str(), &v4) == 1) {
    // A dotted address needs no lookup.
    Resolved r;
    auto* sin = reinterpret_cast<sockaddr_in*>(&r.address);
    sin->sin_family = AF_INET;
    sin->sin_port = htons(static_cast<uint16_t>(port));
    sin->sin_addr = v4;
    r.length = sizeof(sockaddr_in);
    out.push_back(r);
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(name.c_str(), service.c_str(), &hints, &list) != 0 || !list) return false;
  for (int pass = 0; pass < 2; ++pass) {
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
      const bool v4 = ai->ai_family == AF_INET;
      if ((pass == 0) != v4) continue;
      if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
      Resolved r;
      std::memcpy(&r.address, ai->ai_addr, ai->ai_addrlen);
      r.length = static_cast<socklen_t>(ai->ai_addrlen);
      r.family = ai->ai_family;
      out.push_back(r);
    }
  }
  freeaddrinfo(list);
  return !out.empty();
}

bool SetBlocking(int fd, bool blocking) {
  const int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  return fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) == 0;
}

bool SetTimeoutOption(int fd, int option, int32_t ms) {
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  return setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0;
}

}  // namespace

HttpClient::HttpClient() : readBuffer_(new char[kReadBufferSize]) {}

HttpClient::~HttpClient() {
  Close();
  if (tlsContext_) SSL_CTX_free(tlsContext_);
}

RequestResult HttpClient::Perform(const std::string& url, HttpMethod method) {
  requestUrl_ = url;
  lastError_.clear();
  const bool ok = ParseUrl() && Connect() && WriteRequest(method) && ReadResponse();
  if (!ok) Close();
  return ok ? RequestResult::kCompleted : RequestResult::kFailed;
}

bool HttpClient::ParseUrl() {
  scheme_.clear();
  host_.clear();
  path_.clear();
  port_ = 80;
  secure_ = false;
  const std::string& url = requestUrl_;
  std::size_t rest = 0;
  const std::size_t colon = url.find(':');
  if (colon != std::string::npos) {
    scheme_ = url.substr(0, std::min<std::size_t>(colon, kSchemeCapacity - 1));
    for (char& c : scheme_) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    if (scheme_ == "HTTPS") {
      port_ = 443;
      secure_ = true;
    } else if (scheme_ != "HTTP") {
      return false;
    }
    rest = colon + 1;
  } else {
    scheme_ = "HTTP";
  }
  if (url.compare(rest, 2, "//") == 0) rest += 2;
  std::size_t hostEnd = rest;
  while (hostEnd < url.size() && IsHostChar(url[hostEnd])) ++hostEnd;
  host_ = url.substr(rest, hostEnd - rest);
  path_ = url.substr(hostEnd);
  const std::size_t portColon = host_.find(':');
  if (portColon != std::string::npos) {
    const long long port = LeadingInteger(std::string_view(host_).substr(portColon + 1));
    port_ = static_cast<int>(std::clamp<long long>(port, -1, 1 << 20));
    host_.resize(portColon);
  }
  return host_.size() <= kMaxHostLength;
}

bool HttpClient::StopRequested() const {
  return stop_ && stop_->requested();
}

void HttpClient::ReleaseHook() {
  if (hookSet_ && stop_) stop_->ClearAbortHook();
  hookSet_ = false;
}

bool HttpClient::Connect() {
  Close();
  if (StopRequested()) return false;
  const bool viaProxy = !proxyAddress_.empty();
  std::vector<Resolved> addresses;
  if (!Resolve(viaProxy ? proxyAddress_ : host_, viaProxy ? proxyPort_ : port_, addresses)) {
    return false;
  }
  const Resolved* target = nullptr;
  for (const Resolved& r : addresses) {
    // Created non-blocking for the timed connect; blocking again afterwards.
    socket_ = ::socket(r.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket_ >= 0) {
      target = &r;
      break;
    }
  }
  if (!target) return false;

  if (receiveTimeout_ != 0 || sendTimeout_ != 0) {
    // A request with time-outs ends with a reset instead of lingering.
    linger lg{};
    lg.l_onoff = 1;
    lg.l_linger = 0;
    if (setsockopt(socket_, SOL_SOCKET, SO_LINGER, &lg, sizeof lg) != 0) return false;
    if (receiveTimeout_ > 0 && !SetTimeoutOption(socket_, SO_RCVTIMEO, receiveTimeout_)) {
      return false;
    }
    if (sendTimeout_ > 0 && !SetTimeoutOption(socket_, SO_SNDTIMEO, sendTimeout_)) return false;
  }
  const int one = 1;
  setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  if (stop_) {
    const int fd = socket_;
    stop_->SetAbortHook([fd] { ::shutdown(fd, SHUT_RDWR); });
    hookSet_ = true;
    if (StopRequested()) return false;
  }

  if (::connect(socket_, reinterpret_cast<const sockaddr*>(&target->address), target->length) !=
      0) {
    if (errno != EINPROGRESS && errno != EINTR) return false;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectLimitMs);
    while (true) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0 || StopRequested()) return false;
      pollfd p{socket_, POLLOUT, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 100)));
      if (ready < 0 && errno != EINTR) return false;
      if (ready > 0) break;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
      return false;
    }
  }
  if (!SetBlocking(socket_, true)) return false;
  readPos_ = readEnd_ = 0;

  if (!secure_) return true;
  if (viaProxy && !OpenTunnel()) return false;
  return StartTls();
}

bool HttpClient::OpenTunnel() {
  const std::string target = host_ + ":" + std::to_string(port_);
  std::string request = "CONNECT " + target + " HTTP/1.0\r\nHost: " + target + "\r\n";
  request += "User-Agent: " + userAgent_ + "\r\n\r\n";
  SendBytes(request.data(), request.size());
  std::string reply;
  if (!ReadHeaderBlock(reply) || !TunnelAccepted(reply)) return false;
  readPos_ = readEnd_ = 0;
  return true;
}

void HttpClient::SetTlsVerification(bool verify, std::string caFile) {
  if (verify != tlsVerify_ || caFile != caFile_) {
    if (tlsContext_) SSL_CTX_free(tlsContext_);
    tlsContext_ = nullptr;
  }
  tlsVerify_ = verify;
  caFile_ = std::move(caFile);
  tlsSettingsLoaded_ = true;
}

bool HttpClient::StartTls() {
  InitTlsOnce();
  ERR_clear_error();
  if (!tlsContext_) {
    // One context per client, kept for the client's later requests.
    tlsContext_ = SSL_CTX_new(TLS_client_method());
    if (!tlsContext_) return false;
    SSL_CTX_set_options(tlsContext_, SSL_OP_IGNORE_UNEXPECTED_EOF);
    if (tlsVerify_) {
      SSL_CTX_set_default_verify_paths(tlsContext_);
      if (!caFile_.empty()) SSL_CTX_load_verify_locations(tlsContext_, caFile_.c_str(), nullptr);
      SSL_CTX_set_verify(tlsContext_, SSL_VERIFY_PEER, nullptr);
    } else {
      SSL_CTX_set_verify(tlsContext_, SSL_VERIFY_NONE, nullptr);
    }
    ERR_clear_error();
  }
  tlsConnection_ = SSL_new(tlsContext_);
  if (!tlsConnection_) return false;
  if (SSL_set_fd(tlsConnection_, socket_) != 1) return false;
  const bool literal = IsIpLiteral(host_);
  if (!literal && !host_.empty()) SSL_set_tlsext_host_name(tlsConnection_, host_.c_str());
  if (tlsVerify_) {
    X509_VERIFY_PARAM* param = SSL_get0_param(tlsConnection_);
    if (literal) {
      X509_VERIFY_PARAM_set1_ip_asc(param, host_.c_str());
    } else {
      X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
      SSL_set1_host(tlsConnection_, host_.c_str());
    }
  }
  if (SSL_connect(tlsConnection_) != 1) {
    // The reason stays with the request; the queue is emptied so nothing of
    // it leaks into later requests or onto the console.
    const unsigned long code = ERR_peek_error();
    if (code != 0) {
      char reason[256];
      ERR_error_string_n(code, reason, sizeof reason);
      lastError_ = reason;
    } else {
      lastError_ = "TLS handshake failed";
    }
    ERR_clear_error();
    return false;
  }
  (void)SSL_get_cipher_name(tlsConnection_);
  X509* certificate = SSL_get1_peer_certificate(tlsConnection_);
  if (!certificate) return false;
  char* subject = X509_NAME_oneline(X509_get_subject_name(certificate), nullptr, 0);
  char* issuer = X509_NAME_oneline(X509_get_issuer_name(certificate), nullptr, 0);
  const bool named = subject && issuer;
  OPENSSL_free(subject);
  OPENSSL_free(issuer);
  X509_free(certificate);
  return named;
}

void HttpClient::SendBytes(const char* bytes, std::size_t length) {
  while (length > 0) {
    if (tlsConnection_) {
      const int chunk = static_cast<int>(std::min<std::size_t>(length, 1 << 30));
      const int n = SSL_write(tlsConnection_, bytes, chunk);
      if (n <= 0) {
        ERR_clear_error();
        return;
      }
      bytes += n;
      length -= static_cast<std::size_t>(n);
    } else {
      if (socket_ < 0) return;
      const ssize_t n = ::send(socket_, bytes, length, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      bytes += n;
      length -= static_cast<std::size_t>(n);
    }
  }
}

long HttpClient::ReceiveBytes(char* buffer, std::size_t capacity) {
  if (readPos_ < readEnd_) {
    const std::size_t n = std::min(capacity, readEnd_ - readPos_);
    std::memcpy(buffer, readBuffer_.get() + readPos_, n);
    readPos_ += n;
    return static_cast<long>(n);
  }
  if (tlsConnection_) {
    const int n = SSL_read(tlsConnection_, buffer,
                           static_cast<int>(std::min<std::size_t>(capacity, 1 << 30)));
    if (n <= 0) {
      ERR_clear_error();
      return n == 0 ? 0 : -1;
    }
    return n;
  }
  if (socket_ < 0) return -1;
  while (true) {
    const ssize_t n = ::recv(socket_, buffer, capacity, 0);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

long HttpClient::FillBuffer() {
  readPos_ = readEnd_ = 0;
  const long n = ReceiveBytes(readBuffer_.get(), kReadBufferSize);
  if (n > 0) readEnd_ = static_cast<std::size_t>(n);
  return n;
}

void HttpClient::Close() {
  if (tlsConnection_) SSL_shutdown(tlsConnection_);
  ReleaseHook();
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
  if (tlsConnection_) SSL_free(tlsConnection_);
  tlsConnection_ = nullptr;
  ERR_clear_error();
  readPos_ = readEnd_ = 0;
}

void HttpClient::SetProxy(std::string address, uint16_t port) {
  proxyAddress_ = std::move(address);
  proxyPort_ = port;
}

void HttpClient::SetTimeouts(int32_t receiveMs, int32_t sendMs) {
  receiveTimeout_ = receiveMs;
  sendTimeout_ = sendMs;
}

void HttpClient::Flush(std::string& out) {
  if (!out.empty()) SendBytes(out.data(), out.size());
  out.clear();
}

void HttpClient::WriteConnectionLines(std::string& out) const {
  out += "Connection: close\r\n";
  out += "Host: ";
  out += host_;
  if (port_ != 80) {
    out += ':';
    out += std::to_string(port_);
  }
  out += "\r\n";
}

bool HttpClient::WriteRequest(HttpMethod method) {
  std::string out;
  out.reserve(1024);
  out += method == HttpMethod::kPost ? "POST " : "GET ";
  if (!proxyAddress_.empty() && !secure_) {
    // Forward proxies take the absolute form of the target.
    out += "http://";
    out += host_;
    if (port_ != 80) {
      out += ':';
      out += std::to_string(port_);
    }
  }
  out += path_.empty() ? std::string_view("/") : std::string_view(path_);
  out += " HTTP/1.0\r\n";
  out += "Accept: */*\r\n";
  if (!referer_.empty()) {
    out += "Referer: ";
    out += referer_;
    out += "\r\n";
  }
  referer_ = requestUrl_;
  out += "Accept-Language: ";
  out += acceptLanguage_;
  out += "\r\n";
  if (!acceptEncoding_.empty()) {
    out += "Accept-Encoding: ";
    out += acceptEncoding_;
    out += "\r\n";
  }
  out += "User-Agent: ";
  out += userAgent_;
  out += "\r\n";
  if (!cookies_.CookieText().empty()) {
    out += "Cookie: ";
    out += cookies_.CookieText();
    out += "\r\n";
  }
  if (!boundary_.empty()) {
    WriteMultipartSection(out);
  } else if (method == HttpMethod::kPost) {
    WriteUrlEncodedSection(out);
  } else {
    WriteConnectionLines(out);
  }
  out += "\r\n";
  Flush(out);
  return true;
}

void HttpClient::WriteUrlEncodedSection(std::string& out) {
  if (formData_.empty()) return;
  out += "Content-Length: ";
  out += std::to_string(static_cast<long>(formData_.size()));
  out += "\r\n";
  WriteConnectionLines(out);
  out += "Content-Type: application/x-www-form-urlencoded\r\n";
  out += "\r\n";
  out += formData_;
  out += "\r\n";
}

void HttpClient::WriteMultipartSection(std::string& out) {
  std::vector<std::string> partHeaders(fileParts_.size());
  std::size_t length = textParts_.size() + 2;
  for (std::size_t i = fileParts_.size(); i-- > 0;) {
    const FilePart& part = *fileParts_[i];
    if (part.length == 0) continue;
    std::string& header = partHeaders[i];
    header = "--" + boundary_ + "\r\nContent-Disposition: form-data; name=\"" + part.fieldName +
             "\"; filename=\"" + part.fileName + "\"\r\nContent-Type: " + part.contentType +
             "\r\n\r\n";
    length += header.size() + part.length + 2;
  }
  const std::string closing = "--" + boundary_ + "--\r\n";
  length += closing.size();

  out += "Content-Length: ";
  out += std::to_string(static_cast<long>(length));
  out += "\r\n";
  WriteConnectionLines(out);
  out += "Content-Type: multipart/form-data; boundary=";
  out += boundary_;
  out += "\r\n\r\n";
  out += textParts_;
  out += "\r\n";
  for (std::size_t i = fileParts_.size(); i-- > 0;) {
    const FilePart& part = *fileParts_[i];
    if (part.length == 0) continue;
    out += partHeaders[i];
    if (part.length >= kDirectSendSize) {
      Flush(out);
      SendBytes(part.bytes.data(), part.length);
    } else {
      out.append(part.bytes.data(), part.length);
    }
    out += "\r\n";
  }
  out += closing;
  fileParts_.clear();
  textParts_.clear();
  boundary_.clear();
}

bool HttpClient::ReadHeaderBlock(std::string& headers) {
  HeaderBlockReader reader;
  while (!reader.complete() && headers.size() < kHeaderLimit) {
    if (readPos_ >= readEnd_ && FillBuffer() <= 0) return false;
    readPos_ += reader.Feed(
        headers, std::string_view(readBuffer_.get() + readPos_, readEnd_ - readPos_), kHeaderLimit);
  }
  return reader.complete();
}

bool HttpClient::ReadResponse() {
  responseHeaders_.clear();
  ReadHeaderBlock(responseHeaders_);
  responseBody_.clear();
  bool tooLarge = false;
  if (!saveToPath_.empty()) {
    // Streamed to the file block by block, so any size of body keeps the
    // memory use flat.
    const int fd = ::open(saveToPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
      while (true) {
        if (readPos_ >= readEnd_ && FillBuffer() <= 0) break;
        const char* data = readBuffer_.get() + readPos_;
        std::size_t left = readEnd_ - readPos_;
        readPos_ = readEnd_;
        while (left > 0) {
          const ssize_t n = ::write(fd, data, left);
          if (n < 0 && errno == EINTR) continue;
          if (n <= 0) break;
          data += n;
          left -= static_cast<std::size_t>(n);
        }
      }
      ::close(fd);
    }
  } else {
    while (!StopRequested()) {
      if (readPos_ >= readEnd_ && FillBuffer() <= 0) break;
      const std::size_t n = readEnd_ - readPos_;
      if (responseBody_.size() + n > kMaxMemoryBody) {
        tooLarge = true;
        break;
      }
      if (responseBody_.capacity() - responseBody_.size() < n) {
        // Grown in doubling steps up to the limit, never past it.
        responseBody_.reserve(std::min(
            kMaxMemoryBody, std::max(responseBody_.capacity() * 2, responseBody_.size() + n)));
      }
      responseBody_.append(readBuffer_.get() + readPos_, n);
      readPos_ = readEnd_;
    }
  }
  Close();
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
  return !tooLarge && !stopped;
}

void HttpClient::AddFormField(std::string_view name, std::string_view value, bool encode) {
  if (!formData_.empty()) formData_ += '&';
  formData_ += name;
  formData_ += '=';
  if (encode) {
    formData_ += UrlEncode(value);
  } else {
    formData_ += value;
  }
}

void HttpClient::OpenMultipart() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%u-%u-%u %u:%u:%u", local.tm_year + 1900u, local.tm_mon + 1u,
                static_cast<unsigned>(local.tm_mday), static_cast<unsigned>(local.tm_hour),
                static_cast<unsigned>(local.tm_min), static_cast<unsigned>(local.tm_sec));
  boundary_ = "---------------------------" + CMD5Crypt::Hex(stamp).substr(0, 10);
  textParts_.clear();
  fileParts_.clear();
}

void HttpClient::AddTextPart(std::string_view name, std::string_view value) {
  if (!textParts_.empty()) textParts_ += "\r\n";
  textParts_ += "--";
  textParts_ += boundary_;
  textParts_ += "\r\nContent-Disposition: form-data; name=\"";
  textParts_ += name;
  textParts_ += "\"\r\n\r\n";
  textParts_ += value;
}

void HttpClient::AddFilePart(std::string_view name, std::string_view path,
                             std::string_view extension, const CodePage& cp) {
  auto part = std::make_unique<FilePart>();
  part->fieldName = name;
  part->fileName = path;
  // Only regular files are read: a directory or a device has no size to
  // trust.
  const std::string file = NormalizePath(path, cp);
  std::error_code ec;
  if (std::filesystem::is_regular_file(file, ec)) {
    std::ifstream in(file, std::ios::binary);
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (in && !ec && size > 0 && size < part->bytes.max_size()) {
      try {
        part->bytes.resize(static_cast<std::size_t>(size));
        in.read(part->bytes.data(), static_cast<std::streamsize>(size));
        part->length = static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0));
        part->bytes.resize(part->length);
      } catch (const std::exception&) {
        part->bytes.clear();
        part->bytes.shrink_to_fit();
        part->length = 0;
      }
    }
  }
  part->contentType = MimeTable::Lookup(extension);
  fileParts_.push_back(std::move(part));
}

}  // namespace velmar
