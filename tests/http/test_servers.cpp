#include "test_servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "support/test_support.h"

namespace velmar::testing {
namespace {

// Bytes of the request that follow its blank line, from its own headers:
// a url-encoded POST body is followed by CR LF twice, a multipart body by
// one; a body the script gave whole (any other type, or another method) by
// nothing.
std::size_t ExpectedTail(const std::string& head) {
  std::string lower = head;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t at = lower.find("\r\ncontent-length: ");
  if (at == std::string::npos) return 0;
  const std::size_t length = std::strtoul(lower.c_str() + at + 18, nullptr, 10);
  if (lower.find("multipart/form-data") != std::string::npos) return length + 2;
  if (lower.rfind("post ", 0) == 0 && lower.find("\r\nconnection: close") != std::string::npos &&
      lower.find("application/x-www-form-urlencoded") != std::string::npos) {
    return length + 4;
  }
  return length;
}

std::string ReadRequest(int fd) {
  std::string data;
  std::size_t wanted = std::string::npos;
  char buffer[65536];
  while (true) {
    if (wanted == std::string::npos) {
      const std::size_t end = data.find("\r\n\r\n");
      if (end != std::string::npos) wanted = end + 4 + ExpectedTail(data.substr(0, end + 2));
    }
    // Once the announced length is in, wait a moment for stray extra bytes.
    const bool complete = wanted != std::string::npos && data.size() >= wanted;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, complete ? 30 : 3000) <= 0) break;
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  return data;
}

}  // namespace

bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

RawServer::RawServer(Handler handler) : handler_(std::move(handler)) {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  listen(listenFd_, 64);
  socklen_t length = sizeof addr;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &length);
  port_ = ntohs(addr.sin_port);
  if (pipe2(wakePipe_, O_CLOEXEC) != 0) wakePipe_[0] = wakePipe_[1] = -1;
  thread_ = std::thread([this] { Run(); });
}

RawServer::~RawServer() {
  stop_ = true;
  if (wakePipe_[1] >= 0) (void)!write(wakePipe_[1], "x", 1);
  thread_.join();
  close(listenFd_);
  close(wakePipe_[0]);
  close(wakePipe_[1]);
}

std::string RawServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> RawServer::requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void RawServer::Run() {
  while (!stop_) {
    pollfd p[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
    if (poll(p, 2, -1) <= 0) continue;
    if (p[1].revents) break;
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const std::string request = ReadRequest(fd);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    handler_(fd, request);
    close(fd);
  }
}

NginxServer::NginxServer(const std::filesystem::path& folder) : folder_(folder) {
  std::filesystem::create_directories(folder_ / "root");
  std::filesystem::create_directories(folder_ / "logs");
  certificate_ = folder_ / "cert.pem";
  const std::string key = (folder_ / "key.pem").string();
  const ProcessResult made =
      RunProcess({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                  "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost", "-keyout",
                  key, "-out", certificate_.string()});
  if (made.exitCode != 0) return;
  httpsPort_ = FreeLoopbackPort();
  httpPort_ = FreeLoopbackPort();
  const std::string f = folder_.string();
  std::string conf = "worker_processes 1;\ndaemon off;\nmaster_process off;\nuser root;\n";
  conf += "pid " + f + "/nginx.pid;\nerror_log " + f + "/logs/error.log;\n";
  conf += "events { worker_connections 256; }\nhttp {\n access_log off;\n";
  conf += " client_body_temp_path " + f + "/tmp;\n proxy_temp_path " + f + "/tmp;\n";
  conf += " fastcgi_temp_path " + f + "/tmp;\n uwsgi_temp_path " + f + "/tmp;\n";
  conf += " scgi_temp_path " + f + "/tmp;\n";
  conf += " server {\n  listen 127.0.0.1:" + std::to_string(httpsPort_) + " ssl;\n";
  conf += "  listen 127.0.0.1:" + std::to_string(httpPort_) + ";\n";
  conf += "  ssl_certificate " + certificate_.string() + ";\n  ssl_certificate_key " + key + ";\n";
  conf += "  root " + f + "/root;\n }\n}\n";
  std::filesystem::create_directories(folder_ / "tmp");
  const std::filesystem::path confFile = folder_ / "nginx.conf";
  {
    FILE* out = fopen(confFile.c_str(), "w");
    fputs(conf.c_str(), out);
    fclose(out);
  }
  process_ = std::make_unique<ChildProcess>(std::vector<std::string>{
      "/usr/sbin/nginx", "-p", f, "-c", confFile.string(), "-e", f + "/logs/error.log"});
  ok_ = WaitForPort(httpsPort_) && WaitForPort(httpPort_);
}

HttpbinServer::HttpbinServer() {
  if (!std::filesystem::exists("/usr/bin/gunicorn")) return;
  port_ = FreeLoopbackPort();
  process_ = std::make_unique<ChildProcess>(std::vector<std::string>{
      "/usr/bin/gunicorn", "--bind", "127.0.0.1:" + std::to_string(port_), "--workers", "2",
      "--chdir", "/tmp", "httpbin:app"});
  ok_ = process_->running() && WaitForPort(port_, 20000);
}

TinyProxy::TinyProxy(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  port_ = FreeLoopbackPort();
  const std::filesystem::path confFile = folder / "tinyproxy.conf";
  std::string conf = "User root\nGroup root\nPort " + std::to_string(port_) + "\n";
  conf += "Listen 127.0.0.1\nTimeout 30\nMaxClients 20\nAllow 127.0.0.1\n";
  conf += "LogFile \"" + (folder / "tinyproxy.log").string() + "\"\nLogLevel Info\n";
  FILE* out = fopen(confFile.c_str(), "w");
  fputs(conf.c_str(), out);
  fclose(out);
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/tinyproxy", "-d", "-c", confFile.string()});
  ok_ = WaitForPort(port_);
}

}  // namespace velmar::testing
