#include "http/connection.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "http/response_reader.h"
#include "http/url.h"
#include "platform/stop_signal.h"

namespace velmar {
namespace {

constexpr std::size_t kReadBufferSize = 64 * 1024;

void InitTlsOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    // The TLS layer writes to the socket with plain write(); a peer that has
    // gone away must give an error there, not end the whole program.
    platform::IgnoreBrokenPipe();
  });
}

}  // namespace

Connection::Connection() : readBuffer_(new char[kReadBufferSize]) {}

Connection::~Connection() {
  Close();
  DropTlsSession();
  if (tlsContext_) SSL_CTX_free(tlsContext_);
}

bool Connection::StopRequested() const {
  return stop_ && stop_->requested();
}

void Connection::ReleaseHook() {
  if (hookSet_ && stop_) stop_->ClearAbortHook();
  hookSet_ = false;
}

bool Connection::Open(const Url& url, const ConnectionSettings& settings, HttpError& error) {
  Close();
  stop_ = settings.stop;
  resumeTls_ = settings.resumeTls;
  tlsTarget_ = url.host + ":" + std::to_string(url.port);
  if (StopRequested()) return false;
  const bool viaProxy = !settings.proxyAddress.empty();
  const std::string& host = viaProxy ? settings.proxyAddress : url.host;
  const int port = viaProxy ? settings.proxyPort : url.port;
  openTimes_ = {};
  if (!socket_.Open(host, port, settings.receiveTimeoutMs, settings.sendTimeoutMs)) {
    if (port < 1 || port > 65535) {
      error.Set(HttpFailure::kPortOutOfRange, {std::to_string(port)});
    } else {
      error.Set(HttpFailure::kNameNotResolved, {host});
    }
    return false;
  }
  openTimes_.resolved = std::chrono::steady_clock::now();
  if (stop_) {
    const platform::SocketHandle handle = socket_.handle();
    stop_->SetAbortHook([handle] { platform::ShutdownSocket(handle); });
    hookSet_ = true;
    if (StopRequested()) return false;
  }
  if (!socket_.Connect(kConnectLimitMs, [this] { return StopRequested(); })) {
    if (!StopRequested()) error.Set(HttpFailure::kConnectionRefused, {host, std::to_string(port)});
    return false;
  }
  readPos_ = readEnd_ = 0;
  openTimes_.connected = std::chrono::steady_clock::now();

  if (!url.secure) return true;
  if (viaProxy && !OpenTunnel(url, settings.userAgent)) {
    if (!StopRequested()) {
      error.Set(HttpFailure::kProxyTunnelRefused,
                {host, std::to_string(port), url.host, std::to_string(url.port)});
    }
    return false;
  }
  if (!StartTls(url.host, error)) return false;
  openTimes_.secured = std::chrono::steady_clock::now();
  return true;
}

bool Connection::OpenTunnel(const Url& url, std::string_view userAgent) {
  const std::string target = url.host + ":" + std::to_string(url.port);
  std::string request = "CONNECT " + target + " HTTP/1.0\r\nHost: " + target + "\r\n";
  request += "User-Agent: ";
  request += userAgent;
  request += "\r\n\r\n";
  Send(request);
  std::string reply;
  if (!ReadHeaderBlock(*this, reply, kHeaderLimit) || !TunnelAccepted(reply)) return false;
  readPos_ = readEnd_ = 0;
  return true;
}

void Connection::SetTlsVerification(bool verify, std::string caFile) {
  if (verify != tlsVerify_ || caFile != caFile_) {
    if (tlsContext_) SSL_CTX_free(tlsContext_);
    tlsContext_ = nullptr;
    DropTlsSession();
  }
  tlsVerify_ = verify;
  caFile_ = std::move(caFile);
}

bool Connection::StartTls(const std::string& host, HttpError& error) {
  InitTlsOnce();
  ERR_clear_error();
  if (!tlsContext_) {
    // One context per client, kept for the client's later requests.
    tlsContext_ = SSL_CTX_new(TLS_client_method());
    if (!tlsContext_) {
      error.Set(HttpFailure::kTlsRefused, {"TLS handshake failed"});
      return false;
    }
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
  if (!tlsConnection_ || SSL_set_fd(tlsConnection_, socket_.handle()) != 1) {
    error.Set(HttpFailure::kTlsRefused, {"TLS handshake failed"});
    return false;
  }
  const bool literal = platform::IsIpLiteral(host);
  if (!literal && !host.empty()) SSL_set_tlsext_host_name(tlsConnection_, host.c_str());
  if (tlsVerify_) {
    X509_VERIFY_PARAM* param = SSL_get0_param(tlsConnection_);
    if (literal) {
      X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    } else {
      X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
      SSL_set1_host(tlsConnection_, host.c_str());
    }
  }
  if (resumeTls_ && tlsSession_ && tlsSessionTarget_ == tlsTarget_) {
    SSL_set_session(tlsConnection_, tlsSession_);
  }
  if (SSL_connect(tlsConnection_) != 1) {
    // The reason goes back with the request; the queue is emptied so nothing
    // of it leaks into later requests or onto the console.
    const unsigned long code = ERR_peek_error();
    if (code != 0) {
      char reason[256];
      ERR_error_string_n(code, reason, sizeof reason);
      error.Set(HttpFailure::kTlsRefused, {reason});
    } else {
      error.Set(HttpFailure::kTlsRefused, {"TLS handshake failed"});
    }
    ERR_clear_error();
    return false;
  }
  X509* certificate = SSL_get1_peer_certificate(tlsConnection_);
  if (!certificate) {
    error.Set(HttpFailure::kTlsNoCertificate, {host});
    return false;
  }
  char* subject = X509_NAME_oneline(X509_get_subject_name(certificate), nullptr, 0);
  char* issuer = X509_NAME_oneline(X509_get_issuer_name(certificate), nullptr, 0);
  const bool named = subject && issuer;
  OPENSSL_free(subject);
  OPENSSL_free(issuer);
  X509_free(certificate);
  if (!named) error.Set(HttpFailure::kTlsNoCertificate, {host});
  return named;
}

void Connection::Send(const char* bytes, std::size_t length) {
  while (length > 0) {
    long n;
    if (tlsConnection_) {
      n = SSL_write(tlsConnection_, bytes,
                    static_cast<int>(std::min<std::size_t>(length, 1 << 30)));
      if (n <= 0) ERR_clear_error();
    } else {
      n = socket_.Send(bytes, length);
    }
    if (n <= 0) return;
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
}

long Connection::Receive(char* buffer, std::size_t capacity) {
  if (tlsConnection_) {
    const int n = SSL_read(tlsConnection_, buffer,
                           static_cast<int>(std::min<std::size_t>(capacity, 1 << 30)));
    if (n <= 0) {
      ERR_clear_error();
      return n == 0 ? 0 : -1;
    }
    return n;
  }
  return socket_.Receive(buffer, capacity);
}

long Connection::Fill() {
  readPos_ = readEnd_ = 0;
  errno = 0;
  const long n = Receive(readBuffer_.get(), kReadBufferSize);
  receiveFailed_ = n < 0;
  receiveReset_ = n < 0 && (errno == ECONNRESET || errno == EPIPE || errno == ENOTCONN);
  if (n > 0) readEnd_ = static_cast<std::size_t>(n);
  return n;
}

bool Connection::Idle() const {
  if (!socket_.valid() || !Buffered().empty()) return false;
  if (tlsConnection_ && SSL_pending(tlsConnection_) > 0) return false;
  platform::SocketEvents wanted;
  wanted.read = true;
  platform::SocketEvents happened;
  return platform::WaitForSocket(socket_.handle(), wanted, 0, happened) == 0;
}

void Connection::DropTlsSession() {
  if (tlsSession_) SSL_SESSION_free(tlsSession_);
  tlsSession_ = nullptr;
  tlsSessionTarget_.clear();
}

void Connection::KeepTlsSession() {
  // Taken at the close: a TLS 1.3 server sends its session tickets after
  // the handshake, so only now is the session one that can be resumed.
  SSL_SESSION* session = SSL_get1_session(tlsConnection_);
  if (!session) return;
  if (!SSL_SESSION_is_resumable(session)) {
    SSL_SESSION_free(session);
    return;
  }
  DropTlsSession();
  tlsSession_ = session;
  tlsSessionTarget_ = tlsTarget_;
}

Connection::TlsFacts Connection::tlsFacts() const {
  TlsFacts facts;
  if (!tlsConnection_) return facts;
  facts.version = SSL_get_version(tlsConnection_);
  if (const char* cipher = SSL_get_cipher_name(tlsConnection_)) facts.cipher = cipher;
  if (X509* certificate = SSL_get1_peer_certificate(tlsConnection_)) {
    char* subject = X509_NAME_oneline(X509_get_subject_name(certificate), nullptr, 0);
    char* issuer = X509_NAME_oneline(X509_get_issuer_name(certificate), nullptr, 0);
    if (subject) facts.subject = subject;
    if (issuer) facts.issuer = issuer;
    OPENSSL_free(subject);
    OPENSSL_free(issuer);
    X509_free(certificate);
  }
  return facts;
}

bool Connection::TlsResumed() const {
  return tlsConnection_ && SSL_session_reused(tlsConnection_) == 1;
}

void Connection::Close() {
  if (tlsConnection_ && resumeTls_ && SSL_is_init_finished(tlsConnection_)) KeepTlsSession();
  if (tlsConnection_) SSL_shutdown(tlsConnection_);
  ReleaseHook();
  socket_.Close();
  if (tlsConnection_) SSL_free(tlsConnection_);
  tlsConnection_ = nullptr;
  ERR_clear_error();
  readPos_ = readEnd_ = 0;
  receiveFailed_ = false;
  receiveReset_ = false;
}

}  // namespace velmar
