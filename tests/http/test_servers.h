#pragma once
// Real servers for the HTTP client tests, all on 127.0.0.1: a raw TCP server
// inside the test process that records the exact request bytes and answers
// with whatever the test writes, and nginx and tinyproxy started as
// throwaway processes with their configuration in a temporary folder.

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"

namespace velmar::testing {

bool SendAll(int fd, std::string_view data);

// Accepts connections one after another; for each it reads one request
// (headers plus the body that Content-Length and Content-Type announce),
// records it and hands the socket to the handler, then closes it.
class RawServer {
 public:
  using Handler = std::function<void(int fd, const std::string& request)>;
  explicit RawServer(Handler handler);
  ~RawServer();
  int port() const { return port_; }
  std::string url(const std::string& path = "/") const;
  std::vector<std::string> requests();
  // Asks a handler that waits (WaitForStop) to give up.
  bool stopping() const { return stop_.load(); }

 private:
  void Run();
  int listenFd_ = -1;
  int port_ = 0;
  int wakePipe_[2] = {-1, -1};
  std::atomic<bool> stop_{false};
  Handler handler_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// nginx with a self-signed certificate for "localhost" (no IP address in it),
// serving the files of `root` over HTTPS and HTTP.
class NginxServer {
 public:
  explicit NginxServer(const std::filesystem::path& folder);
  bool ok() const { return ok_; }
  int httpsPort() const { return httpsPort_; }
  int httpPort() const { return httpPort_; }
  const std::filesystem::path& certificate() const { return certificate_; }
  std::filesystem::path root() const { return folder_ / "root"; }

 private:
  std::filesystem::path folder_;
  std::filesystem::path certificate_;
  int httpsPort_ = 0;
  int httpPort_ = 0;
  bool ok_ = false;
  std::unique_ptr<ChildProcess> process_;
};

// Debian's request-echo service (python3-httpbin) under gunicorn: headers,
// bodies, redirects, compressed and chunked bodies, authentication.
class HttpbinServer {
 public:
  HttpbinServer();
  // False when gunicorn or httpbin is not installed or did not start.
  bool ok() const { return ok_; }
  int port() const { return port_; }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  int port_ = 0;
  bool ok_ = false;
  std::unique_ptr<ChildProcess> process_;
};

class TinyProxy {
 public:
  explicit TinyProxy(const std::filesystem::path& folder);
  bool ok() const { return ok_; }
  int port() const { return port_; }

 private:
  int port_ = 0;
  bool ok_ = false;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace velmar::testing
