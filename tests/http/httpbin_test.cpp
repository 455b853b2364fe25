// The new request forms against a real application: Debian's request-echo
// service under gunicorn, which answers with what it received as JSON, and
// redirects, compresses, chunks and authenticates on demand.

#include <gtest/gtest.h>

#include <algorithm>

#include "http/http_client.h"
#include "support/script_fixture.h"
#include "test_servers.h"

namespace velmar::testing {
namespace {

class Httpbin : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new HttpbinServer; }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    if (!server_->ok()) VELMAR_SKIP_WITHOUT("gunicorn with python3-httpbin");
  }
  static std::string Url(const std::string& path) { return server_->url(path); }
  // A value of the echoed JSON, read with the script's own built-in.
  static std::string Json(ScriptFixture& f, const std::string& path) {
    return f.Expand("[@json<<<#http_body<<<" + path + "]");
  }

  static HttpbinServer* server_;
};

HttpbinServer* Httpbin::server_ = nullptr;

TEST_F(Httpbin, HeadersAndAuthenticationReachTheApplication) {
  ScriptFixture f;
  f.Run(stmt::kHeader, "X-Api-Key k-123");
  f.Run(stmt::kGet, Url("/headers"));
  ASSERT_EQ(f.Var("http_status"), "200");
  EXPECT_EQ(Json(f, "headers.X-Api-Key"), "k-123");
  EXPECT_EQ(Json(f, "headers.Accept-Language"), "zh-cn");

  f.Run(stmt::kGet, Url("/bearer"));
  EXPECT_EQ(f.Var("http_status"), "401");
  f.Run(stmt::kHeader, "Authorization Bearer tok-9");
  f.Run(stmt::kGet, Url("/bearer"));
  EXPECT_EQ(f.Var("http_status"), "200");
  EXPECT_EQ(Json(f, "token"), "tok-9");

  f.Run(stmt::kHeader, "Authorization Basic dXNlcjpwYXNz");  // user:pass
  f.Run(stmt::kGet, Url("/basic-auth/user/pass"));
  EXPECT_EQ(f.Var("http_status"), "200");
  EXPECT_EQ(Json(f, "authenticated"), "true");
  f.Run(stmt::kGet, Url("/basic-auth/user/other"));
  EXPECT_EQ(f.Var("http_status"), "401");
}

TEST_F(Httpbin, JsonBodiesGoOutAndComeBack) {
  ScriptFixture f;
  const std::string json = R"({"name":"Zoë \"Z\"","list":[1,2,3]})";
  for (int32_t method : {stmt::kPost, stmt::kPut, stmt::kPatch, stmt::kDelete}) {
    f.Run(stmt::kBody, "application/json " + json);
    f.Run(method, Url("/anything"));
    ASSERT_EQ(f.Var("http_status"), "200") << method;
    EXPECT_EQ(Json(f, "json.name"), "Zoë \"Z\"") << method;
    EXPECT_EQ(f.Expand("[@jsoncount<<<#http_body<<<json.list]"), "3");
    EXPECT_EQ(Json(f, "headers.Content-Type"), "application/json");
  }
  EXPECT_EQ(Json(f, "method"), "DELETE");
  f.Run(stmt::kAdd, "a 1 2");
  f.Run(stmt::kPut, Url("/put"));
  EXPECT_EQ(Json(f, "form.a"), "1 2");
  f.Run(stmt::kBody, "text/xml <a>x</a>");
  f.Run(stmt::kPost, Url("/post"));
  EXPECT_EQ(Json(f, "data"), "<a>x</a>");
}

TEST_F(Httpbin, RedirectsOfEveryCodeAreFollowed) {
  ScriptFixture f;
  f.Run(stmt::kRedirect, "5");
  f.Run(stmt::kGet, Url("/relative-redirect/3"));
  EXPECT_EQ(f.Var("status"), "1");
  EXPECT_EQ(f.Var("http_url"), Url("/get"));
  f.Run(stmt::kGet, Url("/absolute-redirect/2"));
  EXPECT_EQ(f.Var("http_status"), "200");
  for (const char* code : {"301", "302", "303", "307", "308"}) {
    f.Run(stmt::kBody, "text/plain payload");
    f.Run(stmt::kPost, Url(std::string("/redirect-to?url=/anything&status_code=") + code));
    ASSERT_EQ(f.Var("http_status"), "200") << code;
    const bool keeps = std::string(code) == "307" || std::string(code) == "308";
    EXPECT_EQ(Json(f, "method"), keeps ? "POST" : "GET") << code;
    EXPECT_EQ(Json(f, "data"), keeps ? "payload" : "") << code;
  }
  // Cookies set on a hop are sent on the next; a deleted one is gone.
  f.Run(stmt::kGet, Url("/cookies/set?session=s1"));
  EXPECT_EQ(Json(f, "cookies.session"), "s1");
  f.Run(stmt::kGet, Url("/cookies/delete?session"));
  EXPECT_EQ(f.ctx->http.cookies().entries().count("session"), 0u);
  f.Run(stmt::kRedirect, "2");
  f.Run(stmt::kGet, Url("/redirect/3"));
  EXPECT_EQ(f.Var("status"), "0");
}

TEST_F(Httpbin, CompressedAndChunkedBodiesAreDecoded) {
  ScriptFixture f;
  f.Run(stmt::kEncoding, "gzip, deflate");
  f.Run(stmt::kGet, Url("/gzip"));
  EXPECT_EQ(Json(f, "gzipped"), "");  // still compressed
  f.Run(stmt::kVar, "[#plain] [@gunzip<<<#http_body]");
  EXPECT_EQ(f.Expand("[@json<<<#plain<<<gzipped]"), "true");
  f.Run(stmt::kDecode, "1");
  f.Run(stmt::kGet, Url("/gzip"));
  EXPECT_EQ(Json(f, "gzipped"), "true");
  f.Run(stmt::kGet, Url("/deflate"));
  EXPECT_EQ(Json(f, "deflated"), "true");
  f.Run(stmt::kGet, Url("/stream/3"));
  ASSERT_EQ(f.Var("status"), "1");
  // Three JSON lines, joined from their chunks.
  const std::string body = f.Var("http_body");
  EXPECT_EQ(std::count(body.begin(), body.end(), '\n'), 3);
  f.Var("line") = body.substr(body.find('\n') + 1);
  f.Var("line").resize(f.Var("line").find('\n'));
  EXPECT_EQ(f.Expand("[@json<<<#line<<<id]"), "1");
}

}  // namespace
}  // namespace velmar::testing
