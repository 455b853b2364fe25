#pragma once
// One connection of the HTTP client: the TCP socket, the proxy's CONNECT
// tunnel for a secure request through a proxy, TLS with or without
// certificate checking, the time-outs and the stop request, and the
// buffered reading that the response reader takes its bytes from.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/socket.h"
#include "values/failure_texts.h"

struct ssl_ctx_st;
struct ssl_st;
struct ssl_session_st;

namespace velmar {

class StopSignal;
struct Url;

// Where and how to connect, apart from the target URL.
struct ConnectionSettings {
  std::string proxyAddress;  // empty: straight to the host
  uint16_t proxyPort = 80;
  int32_t receiveTimeoutMs = 0;  // 0: the system's own
  int32_t sendTimeoutMs = 0;
  std::string_view userAgent;  // sent with CONNECT to the proxy
  StopSignal* stop = nullptr;
  // Offer the TLS session of the last secure connection to the same host
  // and port, so a new connection needs no full handshake.
  bool resumeTls = false;
};

class Connection {
 public:
  static constexpr int kConnectLimitMs = 5000;
  // Past this many bytes a header block ends and the rest is body.
  static constexpr std::size_t kHeaderLimit = 1 << 20;

  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Certificate checking of secure connections: with `verify` the peer must
  // present a chain that ends in the system store (or in `caFile`, a PEM file
  // of extra trusted certificates, when not empty) and match the host name.
  void SetTlsVerification(bool verify, std::string caFile);

  // Connects to the URL's host (or the proxy), opens the tunnel and the TLS
  // session of a secure URL. A stop request aborts the wait at any point.
  // On failure `error` says why (the TLS library's reason for a failed
  // handshake); it stays as it was when a stop ended the attempt. The
  // connection is then left for Close.
  bool Open(const Url& url, const ConnectionSettings& settings, HttpError& error);
  void Close();

  // Sends all bytes unless the peer is gone (the rest is dropped then; the
  // response read tells what happened).
  void Send(const char* bytes, std::size_t length);
  void Send(std::string_view bytes) { Send(bytes.data(), bytes.size()); }

  // Buffered reading: the bytes received and not yet taken.
  std::string_view Buffered() const {
    return std::string_view(readBuffer_.get() + readPos_, readEnd_ - readPos_);
  }
  void Take(std::size_t count) { readPos_ += count; }
  // Refills an empty buffer from the peer: the count read, 0 at the end of
  // the stream, negative on error.
  long Fill();
  // Whether the last Fill ended in an error (a receive time-out among them)
  // rather than with bytes or the end of the stream.
  bool ReceiveFailed() const { return receiveFailed_; }
  // Whether that error was the peer resetting the connection (not a
  // time-out): a kept connection the server had already dropped.
  bool ReceiveReset() const { return receiveReset_; }

  bool StopRequested() const;
  // Whether the current secure connection resumed an earlier TLS session.
  bool TlsResumed() const;
  // Whether a kept connection can take another request: still open, and the
  // server has sent nothing since the last response (a server that closed an
  // idle connection has it readable at its end).
  bool Idle() const;

  // When the last Open passed its steps, for the run's record: the name
  // resolved, the socket connected, the TLS handshake done. A step that did
  // not happen keeps the clock's zero.
  struct OpenTimes {
    std::chrono::steady_clock::time_point resolved, connected, secured;
  };
  const OpenTimes& openTimes() const { return openTimes_; }
  // What the current secure connection agreed on and whom it talks to;
  // empty texts without one.
  struct TlsFacts {
    std::string version, cipher, subject, issuer;
  };
  TlsFacts tlsFacts() const;

 private:
  bool OpenTunnel(const Url& url, std::string_view userAgent);
  bool StartTls(const std::string& host, HttpError& error);
  void KeepTlsSession();
  void DropTlsSession();
  long Receive(char* buffer, std::size_t capacity);
  void ReleaseHook();

  platform::TcpSocket socket_;
  ssl_ctx_st* tlsContext_ = nullptr;
  ssl_st* tlsConnection_ = nullptr;
  // The session of the last secure connection, for resuming it; with the
  // host and port it belongs to.
  ssl_session_st* tlsSession_ = nullptr;
  std::string tlsSessionTarget_;
  std::string tlsTarget_;  // host:port of the current secure connection
  bool resumeTls_ = false;
  bool tlsVerify_ = true;
  std::string caFile_;
  StopSignal* stop_ = nullptr;
  bool hookSet_ = false;

  std::unique_ptr<char[]> readBuffer_;
  std::size_t readPos_ = 0;
  std::size_t readEnd_ = 0;
  bool receiveFailed_ = false;
  bool receiveReset_ = false;
  OpenTimes openTimes_;
};

}  // namespace velmar
