// Requests the way today's sites and APIs want them, against the raw server
// that records the exact bytes: the script's own headers, bodies and methods,
// UTF-8 forms from a GBK script, redirects, decoded bodies and kept
// connections.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <fstream>
#include <thread>

#include "http/http_client.h"
#include "support/script_fixture.h"
#include "test_servers.h"

namespace velmar::testing {
namespace {

const std::string kUa = HttpClient::kInitialUserAgent;

RawServer::Handler Reply(std::string response) {
  return [response](int fd, const std::string&) { SendAll(fd, response); };
}

std::string Compress(std::string_view text, int windowBits) {
  z_stream z{};
  deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, text.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string Chunked(const std::vector<std::string>& pieces) {
  std::string out;
  char size[32];
  for (const std::string& piece : pieces) {
    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
    out += size + piece + "\r\n";
  }
  return out + "0\r\n\r\n";
}

// The bytes of the script's own headers, and of bodies and methods, are
// cases of tests/cases.
TEST(WebRequest, HeaderInjectionIsRefused) {
  ScriptFixture f;
  // CR, LF or NUL in a name or value, or a name that is no token: an error,
  // and the headers stay as they were.
  for (const std::string& bad :
       {std::string("X-A a\r\nX-Evil: 1"), std::string("X-A a\nb"), std::string("X-A a\0b", 7),
        std::string("X\rA v"), std::string("X(A) v"), std::string(": v")}) {
    f.ResetContext();
    f.Run(stmt::kHeader, bad);
    EXPECT_EQ(f.AlertCount(), 1u) << bad;
    EXPECT_TRUE(f.ctx->http.extraHeaders().empty()) << bad;
  }
}

TEST(WebRequest, GbkScriptsSendUtf8FormsWhenAsked) {
  RawServer server(Reply("HTTP/1.0 200 OK\r\n\r\n"));
  ScriptFixture f(CodePage::kGbk);
  const std::string zhong = "\xD6\xD0";  // 中 in GBK; E4 B8 AD in UTF-8
  f.Run(stmt::kAdd, "q " + zhong);
  f.Run(stmt::kSendUtf8, "1");
  f.Run(stmt::kAdd, "r " + zhong);
  f.Run(stmt::kAddx, "s " + zhong);
  EXPECT_EQ(f.ctx->http.formData(), "q=%D6%D0&r=%E4%B8%AD&s=\xE4\xB8\xAD");
  EXPECT_EQ(f.Expand("[@urlencode<<<" + zhong + "]"), "%E4%B8%AD");
  f.Run(stmt::kBody, "text/plain " + zhong);
  f.Run(stmt::kPost, server.url("/"));
  f.Run(stmt::kSendUtf8, "0");
  EXPECT_EQ(f.Expand("[@urlencode<<<" + zhong + "]"), "%D6%D0");
  const auto r = server.requests();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_NE(r[0].find("Content-Length: 3\r\n"), std::string::npos);
  EXPECT_EQ(r[0].substr(r[0].size() - 3), "\xE4\xB8\xAD");
}

TEST(WebRedirect, FollowsEveryCodeAsBrowsersDo) {
  RawServer server([](int fd, const std::string& request) {
    auto reply = [fd](const std::string& status, const std::string& location,
                      const std::string& extra = "") {
      SendAll(fd, "HTTP/1.1 " + status + "\r\nLocation: " + location + "\r\n" + extra + "\r\n");
    };
    const std::string line = request.substr(0, request.find("\r\n"));
    if (line.find(" /a/b/start ") != std::string::npos) {
      reply("301 Moved", "../c/next?x=1#frag", "Set-Cookie: hop1=1\r\n");
    } else if (line.find(" /a/c/next?x=1 ") != std::string::npos) {
      reply("302 Found", "/d", "Set-Cookie: hop2=2\r\n");
    } else if (line.find(" /login ") != std::string::npos) {
      reply("303 See Other", "?welcome");
    } else if (line.find(" /keep") != std::string::npos && line.find("/keep2") == std::string::npos) {
      reply("307 Temporary", "/keep2");
    } else if (line.find(" /perm ") != std::string::npos) {
      reply("308 Permanent", "/keep2");
    } else if (line.find(" /loop ") != std::string::npos) {
      reply("302 Found", "/loop");
    } else {
      SendAll(fd, "HTTP/1.1 200 OK\r\n\r\nfinal " + line);
    }
  });
  ScriptFixture f;
  // Off by default: the redirect response is the result.
  f.Run(stmt::kGet, server.url("/a/b/start"));
  EXPECT_EQ(f.Var("status"), "1");
  EXPECT_EQ(f.Var("http_status"), "301");
  EXPECT_EQ(f.Var("http_url"), server.url("/a/b/start"));

  f.Run(stmt::kRedirect, "5");
  f.Run(stmt::kGet, server.url("/a/b/start"));
  EXPECT_EQ(f.Var("status"), "1");
  EXPECT_EQ(f.Var("http_status"), "200");
  EXPECT_EQ(f.Var("http_body"), "final GET /d HTTP/1.0");
  EXPECT_EQ(f.Var("http_url"), server.url("/d"));
  EXPECT_EQ(f.ctx->http.cookies().CookieText(), "hop1=1;hop2=2");
  EXPECT_EQ(f.ctx->http.referer(), server.url("/d"));

  f.Run(stmt::kAdd, "u me");
  f.Run(stmt::kPost, server.url("/login"));
  EXPECT_EQ(f.Var("http_body"), "final GET /login?welcome HTTP/1.0");
  f.Run(stmt::kAdd, "u me");
  f.Run(stmt::kPost, server.url("/keep"));
  EXPECT_EQ(f.Var("http_body"), "final POST /keep2 HTTP/1.0");
  f.Run(stmt::kBody, "application/json {}");
  f.Run(stmt::kPut, server.url("/perm"));
  EXPECT_EQ(f.Var("http_body"), "final PUT /keep2 HTTP/1.0");

  f.Run(stmt::kRedirect, "3");
  f.Run(stmt::kGet, server.url("/loop"));
  EXPECT_EQ(f.Var("status"), "0");
  EXPECT_EQ(f.Var("http_status"), "302");
  EXPECT_EQ(f.ctx->http.failure().code, HttpFailure::kTooManyRedirects);
  EXPECT_EQ(f.ctx->http.failure().parts.at(0), "3");

  const auto r = server.requests();
  // The 307 and 308 hops carried the bodies again, the 303 one none; the
  // first hop's referrer stays on every hop.
  std::vector<std::string> keep2;
  for (const std::string& request : r) {
    if (request.find(" /keep2 ") != std::string::npos) keep2.push_back(request);
    if (request.find(" /d ") != std::string::npos) {
      EXPECT_NE(request.find("Referer: " + server.url("/a/b/start")), std::string::npos);
      EXPECT_NE(request.find("Cookie: hop1=1;hop2=2\r\n"), std::string::npos);
    }
    if (request.rfind("GET /login?welcome ", 0) == 0) {
      EXPECT_EQ(request.find("Content-Length"), std::string::npos);
    }
  }
  ASSERT_EQ(keep2.size(), 2u);
  EXPECT_NE(keep2[0].find("\r\n\r\nu=me"), std::string::npos);
  EXPECT_EQ(keep2[1].substr(keep2[1].size() - 2), "{}");
  EXPECT_EQ(r.size(), 1u + 3u + 2u + 2u + 2u + 4u);
}

TEST(WebDecode, ChunkedAndCompressedBodiesAsTheServerMeantThem) {
  const std::string text(100000, 'x');
  const std::string gzip = Compress(text + "gz", 16 + MAX_WBITS);
  const std::string zlib = Compress(text + "zl", MAX_WBITS);
  const std::string raw = Compress(text + "rw", -MAX_WBITS);
  RawServer server([&](int fd, const std::string& request) {
    const std::string line = request.substr(0, request.find("\r\n"));
    if (line.find("/gzip") != std::string::npos) {
      SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n" +
                      Chunked({gzip.substr(0, 10), gzip.substr(10)}));
    } else if (line.find("/zlib") != std::string::npos) {
      SendAll(fd, "HTTP/1.0 200 OK\r\nContent-Encoding: deflate\r\n\r\n" + zlib);
    } else if (line.find("/raw") != std::string::npos) {
      SendAll(fd, "HTTP/1.0 200 OK\r\ncontent-encoding: Deflate\r\n\r\n" + raw);
    } else if (line.find("/chunks") != std::string::npos) {
      SendAll(fd, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
                      std::string("5;ext=1\r\nhello\r\n1\r\n \r\nA\r\n0123456789\r\n0\r\nX-T: 1\r\n\r\n"));
    } else if (line.find("/broken") != std::string::npos) {
      SendAll(fd, "HTTP/1.0 200 OK\r\nContent-Encoding: gzip\r\n\r\nnot gzip at all");
    } else {
      SendAll(fd, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + Chunked({"as is"}));
    }
  });
  ScriptFixture f;
  f.Run(stmt::kGet, server.url("/plain"));
  EXPECT_EQ(f.Var("http_body"), Chunked({"as is"}));  // not decoded unless asked
  f.Var("packed") = gzip;
  EXPECT_EQ(f.Expand("[@len<<<[@gunzip<<<#packed]]"), "100002");
  f.Run(stmt::kDecode, "1");
  f.Run(stmt::kGet, server.url("/gzip"));
  EXPECT_EQ(f.Var("http_body"), text + "gz");
  EXPECT_NE(f.Var("http_head").find("Content-Encoding: gzip"), std::string::npos);
  f.Run(stmt::kGet, server.url("/zlib"));
  EXPECT_EQ(f.Var("http_body"), text + "zl");
  f.Run(stmt::kGet, server.url("/raw"));
  EXPECT_EQ(f.Var("http_body"), text + "rw");
  f.Run(stmt::kGet, server.url("/chunks"));
  EXPECT_EQ(f.Var("http_body"), "hello 0123456789");
  TempDir dir;
  const std::string file = (dir.path() / "g.txt").string();
  f.Run(stmt::kSaveto, file);
  f.Run(stmt::kGet, server.url("/gzip"));
  EXPECT_EQ(ReadFile(file), text + "gz");
  f.Run(stmt::kGet, server.url("/broken"));
  EXPECT_EQ(f.Var("status"), "0");
  EXPECT_EQ(f.Var("http_status"), "200");
}

TEST(WebDecode, AGzipBombEndsAtTheMemoryLimit) {
  // About 1 GB of zeros, compressed as it is sent (some hundreds of KB on
  // the wire).
  const RawServer* self = nullptr;
  RawServer server([&self](int fd, const std::string&) {
    SendAll(fd, "HTTP/1.0 200 OK\r\nContent-Encoding: gzip\r\n\r\n");
    z_stream z{};
    deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    const std::string zeros(1 << 20, '\0');
    std::string out(1 << 16, '\0');
    for (int i = 0; i < 1024 && !self->stopping(); ++i) {
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
      z.avail_in = static_cast<uInt>(zeros.size());
      bool sent = true;
      while (z.avail_in > 0 && sent) {
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = static_cast<uInt>(out.size());
        deflate(&z, Z_NO_FLUSH);
        sent = SendAll(fd, std::string_view(out.data(), out.size() - z.avail_out));
      }
      if (!sent) break;
    }
    deflateEnd(&z);
  });
  self = &server;
  ScriptFixture f;
  f.Run(stmt::kDecode, "1");
  f.Run(stmt::kGet, server.url("/bomb"));
  EXPECT_EQ(f.Var("status"), "0");
  EXPECT_EQ(f.Var("http_body"), "");
  EXPECT_EQ(f.ctx->http.failure().code, HttpFailure::kBodyTooLarge);
}

// A server that answers any number of requests on one connection, each with
// the body its handler gives; it closes a connection after `closeAfter`
// responses (0: never) and counts the connections it accepted.
class KeptServer {
 public:
  using Body = std::function<std::string(const std::string& request)>;
  KeptServer(Body body, int closeAfter) : body_(std::move(body)), closeAfter_(closeAfter) {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    listen(listen_, 8);
    thread_ = std::thread([this] { Run(); });
  }
  ~KeptServer() {
    shutdown(listen_, SHUT_RDWR);
    close(listen_);
    thread_.join();
  }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  int connections() const { return connections_; }
  int port() const { return port_; }
  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void Run() {
    while (true) {
      const int fd = accept(listen_, nullptr, nullptr);
      if (fd < 0) return;
      ++connections_;
      std::string pending;
      int answered = 0;
      char buffer[4096];
      while (true) {
        const std::size_t end = pending.find("\r\n\r\n");
        if (end == std::string::npos) {
          const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
          if (n <= 0) break;
          pending.append(buffer, static_cast<std::size_t>(n));
          continue;
        }
        const std::string request = pending.substr(0, end + 4);
        pending.erase(0, end + 4);
        {
          std::lock_guard<std::mutex> lock(mutex_);
          requests_.push_back(request);
        }
        SendAll(fd, body_(request));
        if (closeAfter_ > 0 && ++answered == closeAfter_) break;
        if (request.find("\r\nConnection: close\r\n") != std::string::npos) break;
      }
      close(fd);
    }
  }

  Body body_;
  int closeAfter_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<int> connections_{0};
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

TEST(WebKeepAlive, OneConnectionCarriesTheRequestsAndAClosedOneIsRetried) {
  int served = 0;
  KeptServer server(
      [&served](const std::string& request) {
        ++served;
        if (request.find(" /chunked ") != std::string::npos) {
          return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + Chunked({"ch", "unk"});
        }
        if (request.find(" /none ") != std::string::npos) {
          return std::string("HTTP/1.1 204 No Content\r\n\r\n");
        }
        const std::string body = "n" + std::to_string(served);
        return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
               body;
      },
      3);
  ScriptFixture f;
  f.Run(stmt::kKeepAlive, "1");
  f.Run(stmt::kReferer, "");
  f.Run(stmt::kGet, server.url("/a"));
  EXPECT_EQ(f.Var("http_body"), "n1");
  f.Run(stmt::kGet, server.url("/chunked"));
  EXPECT_EQ(f.Var("http_body"), "chunk");  // joined even without `decode`
  f.Run(stmt::kGet, server.url("/none"));
  EXPECT_EQ(f.Var("http_status"), "204");
  EXPECT_EQ(server.connections(), 1);
  // The server closed the connection after three answers: the next request
  // finds it gone and goes out on a new one.
  f.Run(stmt::kGet, server.url("/b"));
  EXPECT_EQ(f.Var("status"), "1");
  EXPECT_EQ(f.Var("http_body"), "n4");
  EXPECT_EQ(server.connections(), 2);
  f.Run(stmt::kAdd, "x 1");
  f.Run(stmt::kPost, server.url("/c"));
  EXPECT_EQ(f.Var("http_body"), "n5");
  EXPECT_EQ(server.connections(), 2);
  f.Run(stmt::kKeepAlive, "0");
  f.Run(stmt::kGet, server.url("/d"));
  EXPECT_EQ(server.connections(), 3);

  const auto r = server.requests();
  ASSERT_EQ(r.size(), 6u);
  EXPECT_EQ(r[0], "GET /a HTTP/1.1\r\nAccept: */*\r\nAccept-Language: zh-cn\r\nUser-Agent: " + kUa +
                      "\r\nConnection: keep-alive\r\nHost: 127.0.0.1:" +
                      std::to_string(server.port()) + "\r\n\r\n");
  EXPECT_EQ(r[4].rfind("POST /c HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(r[4].find("Content-Length: 3\r\nConnection: keep-alive\r\n"), std::string::npos);
  EXPECT_EQ(r[5].rfind("GET /d HTTP/1.0\r\n", 0), 0u);
}

}  // namespace
}  // namespace velmar::testing
