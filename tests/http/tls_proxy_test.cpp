// HTTPS against a throwaway nginx with a self-signed certificate, and
// forward proxying through a throwaway tinyproxy.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "http/http_client.h"
#include "support/script_fixture.h"
#include "test_servers.h"

namespace velmar::testing {
namespace {

class TlsAndProxy : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempDir;
    nginx_ = new NginxServer(folder_->path() / "nginx");
    proxy_ = new TinyProxy(folder_->path() / "proxy");
    std::ofstream(nginx_->root() / "index.html") << "secure hello";
  }
  static void TearDownTestSuite() {
    delete proxy_;
    delete nginx_;
    delete folder_;
  }
  void SetUp() override {
    ASSERT_TRUE(nginx_->ok()) << "nginx did not start";
    ASSERT_TRUE(proxy_->ok()) << "tinyproxy did not start";
  }
  static std::string Https(const std::string& host) {
    return "https://" + host + ":" + std::to_string(nginx_->httpsPort()) + "/index.html";
  }

  static TempDir* folder_;
  static NginxServer* nginx_;
  static TinyProxy* proxy_;
};

TempDir* TlsAndProxy::folder_ = nullptr;
NginxServer* TlsAndProxy::nginx_ = nullptr;
TinyProxy* TlsAndProxy::proxy_ = nullptr;

TEST_F(TlsAndProxy, KeptConnectionsResumeTheirTlsSession) {
  ScriptFixture f("[setting]\nsslverify=0\n");
  const std::string plain = "http://127.0.0.1:" + std::to_string(nginx_->httpPort()) + "/index.html";
  // Without keepalive every request makes a full handshake, as always.
  f.Run(stmt::kGet, Https("localhost"));
  f.Run(stmt::kGet, Https("localhost"));
  EXPECT_FALSE(f.ctx->http.tlsResumed());
  f.Run(stmt::kKeepAlive, "1");
  for (int i = 0; i < 3; ++i) {
    f.Run(stmt::kGet, Https("localhost"));
    ASSERT_EQ(f.Var("http_body"), "secure hello");
    EXPECT_EQ(f.Var("http_status"), "200");
  }
  // Another target closes the kept connection; coming back resumes the
  // session instead of a new handshake.
  f.Run(stmt::kGet, plain);
  EXPECT_EQ(f.Var("http_body"), "secure hello");
  f.Run(stmt::kGet, Https("localhost"));
  EXPECT_EQ(f.Var("http_body"), "secure hello");
  EXPECT_TRUE(f.ctx->http.tlsResumed());
  // A session is offered only to the host it came from.
  f.Run(stmt::kGet, Https("127.0.0.1"));
  EXPECT_EQ(f.Var("http_body"), "secure hello");
  EXPECT_FALSE(f.ctx->http.tlsResumed());
}

TEST_F(TlsAndProxy, CertificatesAreVerifiedUnlessSwitchedOff) {
  ScriptFixture strict;
  strict.Run(stmt::kGet, Https("localhost"));
  EXPECT_EQ(strict.Var("status"), "0");  // self-signed: not in the system store

  ScriptFixture lax("[setting]\nsslverify=0\n");
  lax.Run(stmt::kGet, Https("localhost"));
  EXPECT_EQ(lax.Var("status"), "1");
  EXPECT_EQ(lax.Var("http_body"), "secure hello");
  EXPECT_EQ(lax.Var("http_head").substr(0, 15), "HTTP/1.1 200 OK");
  lax.Run(stmt::kGet, Https("127.0.0.1"));  // the client object is reused
  EXPECT_EQ(lax.Var("http_body"), "secure hello");

  ScriptFixture trusted("[setting]\ncafile=" + nginx_->certificate().string() + "\n");
  trusted.Run(stmt::kGet, Https("localhost"));
  EXPECT_EQ(trusted.Var("status"), "1");
  EXPECT_EQ(trusted.Var("http_body"), "secure hello");
  trusted.Run(stmt::kGet, Https("127.0.0.1"));  // the certificate names localhost only
  EXPECT_EQ(trusted.Var("status"), "0");
  trusted.Run(stmt::kGet, "http://localhost:" + std::to_string(nginx_->httpsPort()) + "/");
  EXPECT_EQ(trusted.Var("status"), "1");  // plain HTTP to a TLS port: nginx answers 400
  EXPECT_NE(trusted.Var("http_head").find(" 400 "), std::string::npos);
}

TEST_F(TlsAndProxy, FailedHandshakesKeepTheirReasonOffTheConsole) {
  ScriptFixture f;
  ::testing::internal::CaptureStderr();
  f.Run(stmt::kGet, Https("localhost"));  // an untrusted certificate
  const HttpError untrusted = f.ctx->http.failure();
  const std::string untrustedStatus = f.Var("status");
  // TLS to a plain HTTP port: the answer is no handshake at all.
  f.Run(stmt::kGet, "https://localhost:" + std::to_string(nginx_->httpPort()) + "/");
  const HttpError plain = f.ctx->http.failure();
  const std::string plainStatus = f.Var("status");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(untrustedStatus, "0");
  EXPECT_EQ(untrusted.code, HttpFailure::kTlsRefused);
  // The reason is the TLS library's own text.
  EXPECT_NE(Describe(untrusted).find("certificate verify failed"), std::string::npos)
      << Describe(untrusted);
  EXPECT_EQ(plainStatus, "0");
  EXPECT_EQ(plain.code, HttpFailure::kTlsRefused);
  EXPECT_NE(Describe(plain), "");
  ScriptFixture lax("[setting]\nsslverify=0\n");
  lax.Run(stmt::kGet, Https("localhost"));
  EXPECT_EQ(lax.Var("status"), "1");
  EXPECT_FALSE(lax.ctx->http.failure());
}

// The reason for a failed request reaches the host through the
// environment's diagnostics: for every statement that sends a request, and
// for `velmar run` on standard error only, never among the request lines.
TEST_F(TlsAndProxy, FailedHandshakesReachTheHostsDiagnostics) {
  ScriptFixture f;
  std::vector<std::pair<int32_t, std::string>> diagnostics;
  f.env.diagnostic = [&](int32_t id, std::string_view text) {
    diagnostics.emplace_back(id, std::string(text));
  };
  f.ctx->id = 7;
  f.Run(stmt::kGet, Https("localhost"));
  f.Run(stmt::kTest, Https("localhost"));
  f.Run(stmt::kCaptcha, "png " + Https("localhost"));
  ASSERT_EQ(diagnostics.size(), 3u);
  for (const auto& [id, text] : diagnostics) {
    EXPECT_EQ(id, 7);
    EXPECT_NE(text.find("certificate verify failed"), std::string::npos) << text;
  }
  ScriptFixture lax("[setting]\nsslverify=0\n");
  lax.env.diagnostic = f.env.diagnostic;
  lax.Run(stmt::kGet, Https("localhost"));
  EXPECT_EQ(lax.Var("status"), "1");
  EXPECT_EQ(diagnostics.size(), 3u);  // a request that succeeds says nothing

  // Requests that never reach a server say why, too.
  diagnostics.clear();
  f.Run(stmt::kGet, "http://127.0.0.1:1/");  // nothing listens on port 1
  f.Run(stmt::kGet, "http://no-such-host.invalid/");
  f.Run(stmt::kGet, "http://127.0.0.1:99999/");
  ASSERT_EQ(diagnostics.size(), 3u);
  EXPECT_EQ(diagnostics[0].second, "cannot connect to 127.0.0.1:1");
  EXPECT_EQ(diagnostics[1].second, "cannot resolve no-such-host.invalid");
  EXPECT_EQ(diagnostics[2].second, "port 99999 is out of range");
  EXPECT_EQ(f.Var("status"), "0");

  TempDir home;
  const auto script = home.Write("Script/tls.vlm",
                                 "<main>\r\nget " + Https("localhost") + "\r\nshow [#status]\r\n");
  const ProcessResult r = RunVelmar({"run", "--home", home.path().string(), script.string()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "show: 0\nstate: exit\n");
  EXPECT_EQ(r.err.rfind("velmar run: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("certificate verify failed"), std::string::npos) << r.err;
}

TEST_F(TlsAndProxy, ForwardProxyCarriesPlainAndSecureRequests) {
  ScriptFixture f("[setting]\ncafile=" + nginx_->certificate().string() + "\n");
  f.Run(stmt::kProxy, "localhost " + std::to_string(proxy_->port()));
  f.Run(stmt::kGet, "http://127.0.0.1:" + std::to_string(nginx_->httpPort()) + "/index.html");
  EXPECT_EQ(f.Var("status"), "1");
  EXPECT_EQ(f.Var("http_body"), "secure hello");
  f.Run(stmt::kGet, Https("localhost"));  // through a CONNECT tunnel
  EXPECT_EQ(f.Var("status"), "1");
  EXPECT_EQ(f.Var("http_body"), "secure hello");
  f.Run(stmt::kGet, Https("127.0.0.1"));  // the name is still checked at the far end
  EXPECT_EQ(f.Var("status"), "0");
  f.Run(stmt::kProxy, "127.0.0.1 1");
  f.Run(stmt::kGet, Https("localhost"));
  EXPECT_EQ(f.Var("status"), "0");
}

}  // namespace
}  // namespace velmar::testing
