// The request writer and response reader against a raw server that records
// the exact bytes on the wire.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "http/http_client.h"
#include "engine/statements/http_statements.h"
#include "support/script_fixture.h"
#include "test_servers.h"

namespace velmar::testing {
namespace {

RawServer::Handler Reply(std::string response) {
  return [response](int fd, const std::string&) { SendAll(fd, response); };
}

std::string HostLine(const RawServer& s) {
  return "Host: 127.0.0.1:" + std::to_string(s.port()) + "\r\n";
}

TEST(HttpRequest, LongUrlsReachTheServerWhole) {
  RawServer server(Reply("HTTP/1.0 200 OK\r\n\r\nok"));
  ScriptFixture f;
  const std::string path = "/search?q=" + std::string(5000, 'x') + "&page=2";
  f.Run(stmt::kGet, server.url(path));
  EXPECT_EQ(f.Var("status"), "1");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].rfind("GET " + path + " HTTP/1.0\r\n", 0), 0u);
  f.Run(stmt::kGet, "http://" + std::string(300, 'h') + ".example/");
  EXPECT_EQ(f.Var("status"), "0");
  EXPECT_EQ(server.requests().size(), 1u);
}

// The bytes of plain requests and url-encoded forms are cases of
// tests/cases run with `velmar run`.

TEST(HttpRequest, SendsMultipartFormsWithExactLength) {
  RawServer server(Reply("HTTP/1.0 200 OK\r\n\r\n"));
  ScriptFixture f;
  const std::string file1 = f.home.Write("d.x/one.txt", "AAA").string();
  const std::string file2 = f.home.Write("two.JPG", std::string("BB\0B", 4)).string();
  const std::string noDot = f.home.Write("d.x/plain", "P").string();
  f.Run(stmt::kUptext, "early 0");  // no form open yet: discarded by upload
  f.Run(stmt::kUpload);
  const std::string b = f.ctx->http.boundary();
  ASSERT_EQ(b.size(), 37u);
  EXPECT_EQ(b.substr(0, 27), std::string(27, '-'));
  f.Run(stmt::kUptext, "a 1");
  f.Run(stmt::kUptext, "b two words");
  f.Run(stmt::kUpfile, "f1 " + file1);
  f.Run(stmt::kUpfile, "f2 " + file2);
  f.Run(stmt::kUpfile, "f3 " + f.home.path().string() + "/missing.png");
  f.Run(stmt::kUpfile, "f4 " + noDot);
  f.Run(stmt::kUpfile, "f5 " + f.home.path().string());  // a folder is no file
  f.Run(stmt::kImitate, "U");
  f.Run(stmt::kPost, server.url("/up"));
  EXPECT_EQ(f.ctx->http.boundary(), "");
  EXPECT_TRUE(f.ctx->http.fileParts().empty());

  auto part = [&](const std::string& name, const std::string& file, const std::string& type) {
    return "--" + b + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" +
           file + "\"\r\nContent-Type: " + type + "\r\n\r\n";
  };
  const std::string body = "--" + b +
                           "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--" + b +
                           "\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\ntwo words\r\n" +
                           part("f4", noDot, "application/octet-stream") + "P\r\n" +
                           part("f2", file2, "application/x-jpg") + std::string("BB\0B", 4) +
                           "\r\n" + part("f1", file1, "text/plain") + "AAA\r\n--" + b + "--\r\n";
  // A get while a form is open sends the form with GET. The boundary comes
  // from the clock's second, so this form may have a boundary of its own.
  f.Run(stmt::kUpload);
  const std::string b2 = f.ctx->http.boundary();
  f.Run(stmt::kGet, server.url("/g"));
  const auto r = server.requests();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0],
            "POST /up HTTP/1.0\r\nAccept: */*\r\nAccept-Language: zh-cn\r\nUser-Agent: U\r\n"
            "Content-Length: " +
                std::to_string(body.size()) + "\r\nConnection: close\r\n" + HostLine(server) +
                "Content-Type: multipart/form-data; boundary=" + b + "\r\n\r\n" + body + "\r\n");
  EXPECT_EQ(r[1].substr(0, 7), "GET /g ");
  EXPECT_NE(r[1].find("Content-Length: " + std::to_string(2 + b2.size() + 6) + "\r\n"),
            std::string::npos);
  EXPECT_EQ(r[1].substr(r[1].size() - b2.size() - 12), "\r\n\r\n--" + b2 + "--\r\n\r\n");
}

TEST(HttpResponse, ReadsWhateverTheServerSends) {
  auto pieces = [](std::vector<std::string> parts) {
    return [parts](int fd, const std::string&) {
      for (const std::string& p : parts) {
        SendAll(fd, p);
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
      }
    };
  };
  ScriptFixture f;
  {  // headers split across reads, a cookie among them
    RawServer s(pieces({"HTTP/1.0 200 OK\r", "\nSet-Cookie: a=1\r\n", "\r", "\nbo", "dy"}));
    f.Run(stmt::kGet, s.url());
    EXPECT_EQ(f.Var("http_head"), "HTTP/1.0 200 OK\r\nSet-Cookie: a=1\r\n\r\n");
    EXPECT_EQ(f.Var("http_body"), "body");
    EXPECT_EQ(f.ctx->http.cookies().CookieText(), "a=1");
  }
  {  // no blank line at all
    RawServer s(Reply("HTTP/1.0 200 OK\r\nX: y"));
    f.Run(stmt::kGet, s.url());
    EXPECT_EQ(f.Var("status"), "1");
    EXPECT_EQ(f.Var("http_head"), "HTTP/1.0 200 OK\r\nX: y");
    EXPECT_EQ(f.Var("http_body"), "");
  }
  {  // chunked transfer stays as it came; a close in the middle keeps what arrived
    const std::string raw = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    RawServer s(Reply(raw + "5\r\nhello\r\n0\r\n\r\n"));
    f.Run(stmt::kGet, s.url());
    EXPECT_EQ(f.Var("http_body"), "5\r\nhello\r\n0\r\n\r\n");
    RawServer cut(Reply("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\npart"));
    f.Run(stmt::kGet, cut.url());
    EXPECT_EQ(f.Var("http_body"), "part");
  }
  {  // binary bodies keep their NUL bytes, in http_body and wherever it is copied
    RawServer s(Reply(std::string("HTTP/1.0 200 OK\r\n\r\na\0b\0", 23)));
    f.Run(stmt::kGet, s.url());
    EXPECT_EQ(f.Var("http_body"), std::string("a\0b\0", 4));
    EXPECT_EQ(f.Expand("<[#http_body]>"), std::string("<a\0b\0>", 6));
  }
  {  // endless headers: the header block stops at 1 MiB, the rest is body
    std::string big = "HTTP/1.0 200 OK\r\n";
    while (big.size() < (2u << 20)) big += "X-Pad: " + std::string(100, 'p') + "\r\n";
    big += "\r\nBODY";
    RawServer s(Reply(big));
    f.Run(stmt::kGet, s.url());
    EXPECT_EQ(f.Var("http_head"), big.substr(0, HttpClient::kHeaderLimit));
    EXPECT_EQ(f.Var("http_body"), big.substr(HttpClient::kHeaderLimit));
  }
  {  // garbage
    std::string junk;
    for (int i = 0; i < 200000; ++i) junk += static_cast<char>((i * 7919) % 251);
    RawServer s(Reply(junk));
    f.Run(stmt::kGet, s.url());
    EXPECT_EQ(f.Var("status"), "1");
    EXPECT_EQ(f.ctx->http.responseHeaders() + f.Var("http_body"), junk);
  }
  {  // a refused connection leaves the last response in place
    const std::string before = f.Var("http_body");
    const int port = FreeLoopbackPort();
    f.Run(stmt::kGet, "http://127.0.0.1:" + std::to_string(port) + "/");
    EXPECT_EQ(f.Var("status"), "0");
    EXPECT_EQ(f.Var("http_body"), before);
    EXPECT_EQ(f.ctx->http.failure().code, HttpFailure::kConnectionRefused);
    EXPECT_EQ(f.ctx->http.failure().parts,
              (std::vector<std::string>{"127.0.0.1", std::to_string(port)}));
    f.Run(stmt::kGet, "http://no-such-host.invalid/");
    EXPECT_EQ(f.Var("status"), "0");
    EXPECT_EQ(f.ctx->http.failure().code, HttpFailure::kNameNotResolved);
    f.Run(stmt::kGet, "http://127.0.0.1:65536/");
    EXPECT_EQ(f.ctx->http.failure().code, HttpFailure::kPortOutOfRange);
    EXPECT_EQ(f.ctx->http.failure().parts, std::vector<std::string>{"65536"});
    f.Run(stmt::kGet, "ftp://127.0.0.1/");
    EXPECT_EQ(f.Var("status"), "0");
    EXPECT_EQ(f.ctx->http.failure().code, HttpFailure::kBadUrl);
    // A success leaves no failure behind.
    RawServer ok(Reply("HTTP/1.0 200 OK\r\n\r\nfine"));
    f.Run(stmt::kGet, ok.url());
    EXPECT_EQ(f.Var("status"), "1");
    EXPECT_FALSE(f.ctx->http.failure());
  }
}

// Sends the headers, then body bytes until the client goes away (or, with a
// `total`, that many bytes and a close).
RawServer::Handler Stream(const RawServer* const* self, std::size_t total = 0) {
  return [self, total](int fd, const std::string&) {
    SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n");
    const std::string block(64 * 1024, 'b');
    std::size_t sent = 0;
    while (!(*self)->stopping() && (total == 0 || sent < total)) {
      const std::size_t n = total == 0 ? block.size() : std::min(block.size(), total - sent);
      if (!SendAll(fd, std::string_view(block).substr(0, n))) break;
      sent += n;
    }
  };
}

TEST(HttpResponse, InMemoryBodiesStopAtTheExpansionLimit) {
  const RawServer* self = nullptr;
  ScriptFixture f;
  {
    RawServer exact(Stream(&self, HttpClient::kMaxMemoryBody));
    self = &exact;
    f.Run(stmt::kGet, exact.url());
    EXPECT_EQ(f.Var("status"), "1");
    EXPECT_EQ(f.Var("http_body").size(), HttpClient::kMaxMemoryBody);
  }
  {
    RawServer over(Stream(&self, HttpClient::kMaxMemoryBody + 1));
    self = &over;
    f.Run(stmt::kGet, over.url());
    EXPECT_EQ(f.Var("status"), "0");
    EXPECT_EQ(f.Var("http_head"), "HTTP/1.0 200 OK\r\n\r\n");
    EXPECT_EQ(f.Var("http_body"), "");
    EXPECT_EQ(f.ctx->http.failure().code, HttpFailure::kBodyTooLarge);
    // A download into a file has no such limit.
    const auto file = f.home.path() / "big.bin";
    f.Run(stmt::kSaveto, file.string());
    f.Run(stmt::kGet, over.url());
    EXPECT_EQ(f.Var("status"), "1");
    EXPECT_EQ(std::filesystem::file_size(file), HttpClient::kMaxMemoryBody + 1);
  }
}

TEST(HttpResponse, StopEndsAnEndlessBodyPromptly) {
  const RawServer* self = nullptr;
  RawServer endless(Stream(&self));
  self = &endless;
  ScriptFixture f;
  for (const int delayMs : {50, 400}) {
    std::chrono::steady_clock::time_point stoppedAt;
    std::thread stopper([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      stoppedAt = std::chrono::steady_clock::now();
      f.ctx->stop.request();
    });
    f.Run(stmt::kGet, endless.url());
    const auto ended = std::chrono::steady_clock::now();
    stopper.join();
    f.ctx->stop.reset();
    EXPECT_EQ(f.Var("status"), "0");
    EXPECT_EQ(f.Var("http_body"), "");  // a cut-off body is no answer
    // Stopped, wherever the stop found the request (waiting for the head
    // too, where it once read as a time-out), unless the body reached its
    // limit first.
    const HttpFailure code = f.ctx->http.failure().code;
    EXPECT_TRUE(code == HttpFailure::kStopped || code == HttpFailure::kBodyTooLarge)
        << Describe(f.ctx->http.failure());
    // The request may also have ended on its own at the limit before the stop.
    const auto latency = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::max(ended, stoppedAt) - stoppedAt);
    RecordProperty("stop_latency_ms_" + std::to_string(delayMs), static_cast<int>(latency.count()));
    EXPECT_LT(latency, std::chrono::seconds(5));
  }
}

TEST(HttpResponse, ConvertsUtf8BodiesToTheCodePage) {
  EXPECT_TRUE(IsUtf8Response("Content-Type: text/html; charset=UTF-8\r\n", ""));
  EXPECT_FALSE(IsUtf8Response("charset=Utf-8", "<html><head></head>"));
  EXPECT_TRUE(IsUtf8Response("charset=Utf-8", "<head><meta charset=utf-8></head>"));
  EXPECT_FALSE(IsUtf8Response("", "<head></head>utf-8"));
  EXPECT_TRUE(IsUtf8Response("", "<HEAD>UTF-8</HEAD>"));
  EXPECT_TRUE(IsUtf8Response("", "<?xml version=\"1.0\" encoding=\"utf-8\"?><a/>"));

  ScriptFixture gbk("[setting]\ncodepage=936\n");
  RawServer s(
      Reply("HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=UTF-8\r\n\r\n"
            "\xE4\xB8\xAD\xE0\xB8\x81"));
  gbk.Run(stmt::kGet, s.url());
  EXPECT_EQ(gbk.Var("http_body"), "\xD6\xD0?");  // a character GBK lacks becomes '?'
  RawServer plain(Reply("HTTP/1.0 200 OK\r\ncharset=Utf-8\r\n\r\n<head></head>\xE4\xB8\xAD"));
  gbk.Run(stmt::kGet, plain.url());
  EXPECT_EQ(gbk.Var("http_body"), "<head></head>\xE4\xB8\xAD");

  ScriptFixture utf8;
  RawServer broken(
      Reply("HTTP/1.0 200 OK\r\nX: utf-8\r\n\r\na\xFF"
            "b\xE4\xB8\xAD"));
  utf8.Run(stmt::kGet, broken.url());
  EXPECT_EQ(utf8.Var("http_body"), "a?b\xE4\xB8\xAD");
}

// A page is held once: the client hands its body over to `http_body`, also
// when a UTF-8 page is already in the script's code page.
TEST(HttpResponse, BodiesMoveIntoTheVariable) {
  const std::string page = "<head><meta charset=utf-8></head>" + std::string(200000, 'x');
  RawServer s(Reply("HTTP/1.0 200 OK\r\n\r\n" + page));
  ScriptFixture f;
  f.Run(stmt::kGet, s.url());
  EXPECT_EQ(f.Var("http_body"), page);
  EXPECT_TRUE(f.ctx->http.responseBody().empty());
  EXPECT_EQ(ConvertUtf8Body(page, CodePage::Get(CodePage::kUtf8)), page);
  std::string moved = page;
  const char* bytes = moved.data();
  EXPECT_EQ(ConvertUtf8Body(std::move(moved), CodePage::Get(CodePage::kUtf8)).data(), bytes);
}

TEST(HttpResponse, SavetoStreamsBodiesToFiles) {
  RawServer server(Reply("HTTP/1.0 200 OK\r\n\r\nfile body"));
  ScriptFixture f;
  const std::string a = (f.home.path() / "a.bin").string();
  const std::string b = (f.home.path() / "b.bin").string();
  f.Run(stmt::kSaveto, a);
  f.Run(stmt::kGet, server.url());
  EXPECT_EQ(ReadFile(a), "file body");
  EXPECT_EQ(f.Var("http_body"), "");
  EXPECT_EQ(f.Var("http_head"), "HTTP/1.0 200 OK\r\n\r\n");
  f.Run(stmt::kSaveto, b);
  f.Run(stmt::kTest, server.url());
  EXPECT_EQ(ReadFile(b), "file body");
  EXPECT_EQ(f.ctx->http.saveToPath(), b);
  f.Run(stmt::kGet, server.url());
  EXPECT_EQ(f.ctx->http.saveToPath(), "");
  f.Run(stmt::kGet, server.url());
  EXPECT_EQ(f.Var("http_body"), "file body");
  f.Run(stmt::kSaveto, (f.home.path() / "no/such/dir/c.bin").string());
  f.Run(stmt::kGet, server.url());
  EXPECT_EQ(f.Var("status"), "0");  // a body that could not be kept fails the request
  EXPECT_EQ(f.Var("http_body"), "");
  EXPECT_EQ(f.Var("http_head"), "HTTP/1.0 200 OK\r\n\r\n");

  // Several hundred MB go to the file with flat memory.
  constexpr std::size_t kTotal = 300u << 20;
  RawServer large([](int fd, const std::string&) {
    SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n");
    const std::string block(1 << 20, 'z');
    for (std::size_t sent = 0; sent < kTotal; sent += block.size()) {
      if (!SendAll(fd, block)) return;
    }
  });
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  f.Run(stmt::kSaveto, a);
  f.Run(stmt::kGet, large.url());
  getrusage(RUSAGE_SELF, &after);
  EXPECT_EQ(std::filesystem::file_size(a), kTotal);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024);  // kilobytes
}

// In code page 936 a character may end in the byte of `\`; the paths a
// script gives keep such characters whole.
TEST(HttpResponse, GbkPathsKeepTrailBytesThatLookLikeBackslashes) {
  RawServer server(Reply("HTTP/1.0 200 OK\r\nSet-Cookie: k=v\r\n\r\nbody"));
  ScriptFixture f(CodePage::kGbk);
  const std::string name = "\x81\x5C";  // one GBK character, trail byte 0x5C
  const std::string saved = (f.home.path() / (name + ".bin")).string();
  f.Run(stmt::kSaveto, saved);
  f.Run(stmt::kGet, server.url());
  EXPECT_EQ(ReadFile(saved), "body");

  const std::string upload = f.home.Write(name + ".txt", "UP").string();
  f.Run(stmt::kUpload);
  f.Run(stmt::kUpfile, "f " + upload);
  ASSERT_EQ(f.ctx->http.fileParts().size(), 1u);
  EXPECT_EQ(f.ctx->http.fileParts()[0]->bytes, "UP");
  EXPECT_EQ(f.ctx->http.fileParts()[0]->fileName, upload);

  const std::string cookies = (f.home.path() / (name + ".cookies")).string();
  f.Run(stmt::kSaveCookies, cookies);
  EXPECT_EQ(ReadFile(cookies), "k^v\r\n");
  f.Run(stmt::kClearCookies);
  f.Run(stmt::kResumeCookies, cookies);
  EXPECT_EQ(f.ctx->http.cookies().CookieText(), "k=v");
}

TEST(HttpConnection, TimeoutsAndStopEndHangingRequests) {
  RawServer silent([](int, const std::string&) {});
  // The handler above returns at once and the server closes; this one never
  // answers until the server shuts down.
  std::atomic<bool> release{false};
  RawServer mute([&](int, const std::string&) {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  ScriptFixture f;
  f.Run(stmt::kTimeout, "300 300");
  EXPECT_EQ(f.ctx->http.receiveTimeout(), 300);
  // A time-out before any byte of a response is a failed request (the
  // previous response stays); one after the head ends the body like a close.
  RawServer slow([&](int fd, const std::string&) {
    SendAll(fd, "HTTP/1.0 200 OK\r\n\r\npart");
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  f.Run(stmt::kGet, slow.url());
  EXPECT_EQ(f.Var("status"), "1");
  EXPECT_EQ(f.Var("http_body"), "part");
  f.Run(stmt::kGet, mute.url());
  EXPECT_EQ(f.Var("status"), "0");
  EXPECT_EQ(f.Var("http_head"), "HTTP/1.0 200 OK\r\n\r\n");
  EXPECT_EQ(f.ctx->http.failure().code, HttpFailure::kNoResponse);
  EXPECT_EQ(f.ctx->http.lastError(), "no response from 127.0.0.1:" + std::to_string(mute.port()) +
                                         " within the receive time-out");
  f.Run(stmt::kTimeout, "0 5000");
  EXPECT_EQ(f.ctx->http.receiveTimeout(), 0);
  EXPECT_EQ(f.ctx->http.sendTimeout(), 5000);
  f.Run(stmt::kTimeout, "5000");
  EXPECT_EQ(f.ctx->http.sendTimeout(), 0);

  // Without time-outs only a stop request ends the wait.
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    f.ctx->stop.request();
  });
  f.Run(stmt::kGet, mute.url());
  stopper.join();
  EXPECT_EQ(f.Var("status"), "0");
  // The stop ended it.
  EXPECT_EQ(f.ctx->http.failure().code, HttpFailure::kStopped);
  f.ctx->stop.reset();
  release = true;
  f.Run(stmt::kGet, silent.url());
  EXPECT_EQ(f.Var("status"), "1");
}

TEST(HttpConnection, ConnectGivesUpAfterFiveSeconds) {
  // A listener that never accepts, with its accept queue filled: further
  // connection attempts get no answer at all.
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  socklen_t length = sizeof addr;
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    fillers.push_back(fd);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ScriptFixture f;
  f.Run(stmt::kTimeout, "60000 60000");
  const auto start = std::chrono::steady_clock::now();
  f.Run(stmt::kGet, "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/");
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(f.Var("status"), "0");
  EXPECT_GE(waited, std::chrono::milliseconds(4900));
  EXPECT_LT(waited, std::chrono::seconds(30));
  for (int fd : fillers) close(fd);
  close(listener);
}

TEST(HttpConnection, ProxiedRequestsCarryTheAbsoluteUrl) {
  RawServer proxy(Reply("HTTP/1.0 200 OK\r\n\r\nvia proxy"));
  ScriptFixture f;
  f.Run(stmt::kProxy, "localhost\t " + std::to_string(proxy.port()));
  EXPECT_EQ(f.ctx->http.proxyAddress(), "localhost");
  f.Run(stmt::kImitate, "U");
  f.Run(stmt::kGet, "http://example.invalid:81/p?q");
  EXPECT_EQ(f.Var("http_body"), "via proxy");
  f.Run(stmt::kGet, "example.invalid");
  const auto r = proxy.requests();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0],
            "GET http://example.invalid:81/p?q HTTP/1.0\r\nAccept: */*\r\n"
            "Accept-Language: zh-cn\r\nUser-Agent: U\r\nConnection: close\r\n"
            "Host: example.invalid:81\r\n\r\n");
  EXPECT_EQ(r[1].substr(0, 35), "GET http://example.invalid/ HTTP/1.");
  // A secure request asks the proxy for a tunnel first; a refusal fails it.
  RawServer refusing(Reply("HTTP/1.0 403 Forbidden\r\n\r\n"));
  f.Run(stmt::kProxy, "127.0.0.1 " + std::to_string(refusing.port()));
  f.Run(stmt::kGet, "https://example.invalid/s");
  EXPECT_EQ(f.Var("status"), "0");
  EXPECT_EQ(f.ctx->http.failure().code, HttpFailure::kProxyTunnelRefused);
  EXPECT_EQ(f.ctx->http.failure().parts,
            (std::vector<std::string>{"127.0.0.1", std::to_string(refusing.port()),
                                      "example.invalid", "443"}));
  ASSERT_EQ(refusing.requests().size(), 1u);
  EXPECT_EQ(refusing.requests()[0],
            "CONNECT example.invalid:443 HTTP/1.0\r\n"
            "Host: example.invalid:443\r\nUser-Agent: U\r\n\r\n");
  f.Run(stmt::kProxy, "localhost");
  EXPECT_EQ(f.ctx->http.proxyAddress(), "");
  EXPECT_EQ(f.ctx->http.proxyPort(), 80);
}

TEST(HttpCookies, ResponsesAndStatementsFillTheJar) {
  RawServer server([](int fd, const std::string& request) {
    if (request.find("GET /1 ") == 0) {
      SendAll(fd,
              "HTTP/1.0 200 OK\r\nSet-Cookie: sid=1\r\n"
              "set-cookie:UserInfo=id=5&nick=x; path=/; HttpOnly\r\n"
              "Set-Cookie: k=first\r\nSet-Cookie: k=second\r\n\r\n");
    } else if (request.find("GET /2 ") == 0) {
      SendAll(
          fd,
          "HTTP/1.0 200 OK\r\nSet-Cookie: sid=2; expires=Wed, 09-Jun-2021 10:18:14 GMT\r\n"
          "Set-Cookie: big=" +
              std::string(100000, 'v') +
              "\r\n"
              "Set-Cookie: c=" +
              [] {
                std::string s = "x0=0";
                for (int i = 1; s.size() < 100000; ++i) s += "&x" + std::to_string(i) + "=1";
                return s;
              }() +
              "\r\n\r\n");
    } else {
      SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n");
    }
  });
  ScriptFixture f;
  CookieJar& jar = f.ctx->http.cookies();
  f.Run(stmt::kGet, server.url("/1"));
  EXPECT_EQ(jar.CookieText(), "UserInfo=nick=x&id=5;k=first;sid=1");
  f.Run(stmt::kGet, server.url("/2"));
  EXPECT_EQ(jar.entries().count("sid"), 0u);  // a past expiry deletes the cookie
  EXPECT_EQ(jar.entries().at("big").size(), 100000u);
  EXPECT_EQ(jar.entries().at("c=x1"), "1");
  f.Run(stmt::kClearCookies);
  EXPECT_EQ(jar.CookieText(), "");
  f.Run(stmt::kSetCookies, "n v w");
  f.Run(stmt::kSetCookies, "lonely");
  f.Run(stmt::kGet, server.url("/3"));
  f.Run(stmt::kDelCookies, "n");
  f.Run(stmt::kGet, server.url("/4"));
  f.Var("which") = "n";
  f.Run(stmt::kSetCookies, "n [#which]");  // both parts are expanded by the statement
  f.Run(stmt::kGetCookies, "[#out] n");
  EXPECT_EQ(f.Var("out"), jar.entries().at("n"));
  f.Run(stmt::kGetCookies, "[#out] missing");
  EXPECT_EQ(f.Var("out"), "");
  EXPECT_TRUE(jar.entries().count("missing"));
  const auto r = server.requests();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_NE(r[1].find("Cookie: UserInfo=nick=x&id=5;k=first;sid=1\r\n"), std::string::npos);
  EXPECT_NE(r[2].find("\r\nCookie: n=v w\r\n"), std::string::npos);
  EXPECT_EQ(r[3].find("Cookie:"), std::string::npos);
}

TEST(HttpCaptcha, DownloadsIntoTheTempFolder) {
  RawServer server(Reply(std::string("HTTP/1.0 200 OK\r\n\r\n\x89PNG\0img", 27)));
  ScriptFixture f;
  f.ctx->id = 7;  // the file is named after the script's id
  f.Run(stmt::kCaptcha, "png " + server.url("/c"));
  EXPECT_EQ(ReadFile(f.home.path() / "Temp" / "captcha_7.png"), std::string("\x89PNG\0img", 8));
  EXPECT_EQ(f.ctx->http.saveToPath(), "");
  EXPECT_FALSE(f.ctx->variables.Contains("status"));
  f.Run(stmt::kCaptcha, "png");
  ASSERT_EQ(f.host.requests.size(), 1u);
  EXPECT_EQ(f.host.requests[0].first, REQ_ALERT);
  EXPECT_NE(f.host.requests[0].second.find("格式有误．"), std::string::npos);
}

}  // namespace
}  // namespace velmar::testing

namespace velmar::testing {
namespace {

TEST(HttpEndToEnd, ScriptFetchesSavesAndSendsCookies) {
  RawServer server([](int fd, const std::string& request) {
    SendAll(fd, request.find("GET /x ") == 0 ? "HTTP/1.0 200 OK\r\nSet-Cookie: a=1\r\n\r\npage"
                                             : "HTTP/1.0 200 OK\r\n\r\n");
  });
  TempDir home;
  const std::string page = (home.path() / "page.html").string();
  const std::string jar = (home.path() / "jar.txt").string();
  const auto script =
      home.Write("Script/e2e.vlm", "<main>\r\nsaveto " + page + "\r\nget " + server.url("/x") +
                                       "\r\nsetcookies sid abc\r\nget " + server.url("/y") +
                                       "\r\nsavecookies " + jar + "\r\n");
  const ProcessResult r = RunVelmar({"run", "--home", home.path().string(), script.string()});
  if (server.requests().empty() &&
      (r.out.rfind("velmar ", 0) == 0 || r.err.find("sage") != std::string::npos)) {
    VELMAR_SKIP_WITHOUT("velmar run (" + r.out + r.err + ")");
  }
  EXPECT_EQ(ReadFile(page), "page");
  EXPECT_EQ(ReadFile(jar), "a^1\r\nsid^abc\r\n");
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[1].find("\r\nReferer: " + server.url("/x") + "\r\n"), std::string::npos);
  EXPECT_NE(requests[1].find("\r\nCookie: a=1;sid=abc\r\n"), std::string::npos);
}

// A download whose file cannot be written (a device, a missing folder)
// fails the request and says why on standard error.
TEST(HttpEndToEnd, ADownloadThatCannotBeWrittenIsReported) {
  RawServer server(Reply("HTTP/1.0 200 OK\r\n\r\nthe page"));
  TempDir home;
  const auto script = home.Write(
      "Script/d.vlm", "saveto /dev/full\nget " + server.url("/a") + "\nshow full=[#status]\n" +
                          "saveto " + (home.path() / "no" / "such" / "x").string() + "\nget " +
                          server.url("/b") + "\nshow missing=[#status]\n");
  const ProcessResult r = RunVelmar({"run", "--home", home.path().string(), script.string()});
  EXPECT_EQ(r.out, "show: full=0\nshow: missing=0\nstate: exit\n") << r.err;
  EXPECT_NE(r.err.find("/dev/full: not a regular file"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find((home.path() / "no" / "such" / "x").string() +
                       ": No such file or directory"),
            std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace velmar::testing
