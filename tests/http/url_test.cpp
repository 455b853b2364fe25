// The one reading of a URL: the parts the client connects with, and the
// cookie store's matching built on the same parts.

#include "http/url.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "http/cookie_store.h"
#include "support/test_support.h"

namespace velmar::testing {
namespace {

TEST(HttpUrl, ParsesAsTheClientAlwaysHas) {
  Url c;
  auto parse = [&](const std::string& text) {
    const std::optional<Url> url = ParseUrl(text);
    if (url) c = *url;
    return url.has_value();
  };
  ASSERT_TRUE(parse("example.com/a/b?x=1"));
  EXPECT_EQ(std::string(c.scheme()), "HTTP");
  EXPECT_EQ(c.host, "example.com");
  EXPECT_EQ(c.port, 80);
  EXPECT_EQ(c.target, "/a/b?x=1");
  // A host with a port needs no scheme; a colon later in the text still
  // reads as the end of one.
  ASSERT_TRUE(parse("localhost:8080/x"));
  EXPECT_FALSE(c.secure);
  EXPECT_EQ(c.host, "localhost");
  EXPECT_EQ(c.port, 8080);
  EXPECT_EQ(c.target, "/x");
  ASSERT_TRUE(parse("127.0.0.1:81"));
  EXPECT_EQ(c.port, 81);
  EXPECT_EQ(c.target, "");
  EXPECT_FALSE(parse("example.com:x/8080"));
  EXPECT_FALSE(parse("h/a?u=http://y"));
  EXPECT_FALSE(parse("ftp://h/"));
  ASSERT_TRUE(parse("HtTpS://h"));
  EXPECT_TRUE(c.secure);
  EXPECT_EQ(c.port, 443);
  EXPECT_EQ(c.target, "");
  ASSERT_TRUE(parse("http://h:8080"));
  EXPECT_EQ(c.host, "h");
  EXPECT_EQ(c.port, 8080);
  EXPECT_EQ(c.target, "");
  ASSERT_TRUE(parse("http://my_host/x"));
  EXPECT_EQ(c.host, "my");
  EXPECT_EQ(c.target, "_host/x");
  ASSERT_TRUE(parse("http://user@h/x"));
  EXPECT_EQ(c.host, "user");
  EXPECT_EQ(c.target, "@h/x");
  ASSERT_TRUE(parse("http:/h/x"));  // a single slash is not skipped
  EXPECT_EQ(c.host, "");
  EXPECT_EQ(c.target, "/h/x");
  EXPECT_FALSE(parse(std::string(30, 'h') + "ttps://x"));  // a long scheme is no https
  // No part is cut: a name past 255 bytes is no host name, a path has no limit.
  EXPECT_FALSE(parse("http://" + std::string(256, 'a') + "/x"));
  ASSERT_TRUE(parse("http://" + std::string(255, 'a') + ":81/" + std::string(10000, 'p')));
  EXPECT_EQ(c.host, std::string(255, 'a'));
  EXPECT_EQ(c.port, 81);
  EXPECT_EQ(c.target, "/" + std::string(10000, 'p'));
}

TEST(HttpUrl, ReadsPortsLikeScriptNumbers) {
  auto port = [](const std::string& text) {
    const std::optional<Url> url = ParseUrl(text);
    return url ? url->port : -99;
  };
  EXPECT_EQ(port("https://h:8443/x"), 8443);  // a written port wins over 443
  EXPECT_EQ(port("http://h:80abc/x"), 80);    // digits up to the first other byte
  EXPECT_EQ(port("http://h:/x"), 0);          // no digits: no port, refused on connect
  EXPECT_EQ(port("http://h:-5/x"), -1);
  EXPECT_EQ(port("http://h:99999999999999999999/x"), 1 << 20);
  EXPECT_EQ(port("http://h:81:82/x"), 81);  // the first colon starts the port
  const std::optional<Url> url = ParseUrl("http://h:81:82/x");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->host, "h");
  EXPECT_EQ(url->target, "/x");
}

TEST(HttpUrl, TellsWhatWasWrittenOut) {
  const std::optional<Url> bare = ParseUrl("h.org/x");
  ASSERT_TRUE(bare);
  EXPECT_FALSE(bare->schemeWritten);
  EXPECT_FALSE(bare->slashesWritten);
  const std::optional<Url> half = ParseUrl("HTTP:h.org/x");
  ASSERT_TRUE(half);
  EXPECT_TRUE(half->schemeWritten);
  EXPECT_FALSE(half->slashesWritten);
  EXPECT_EQ(half->host, "h.org");
  const std::optional<Url> full = ParseUrl("http://h.org?q=1#f");
  ASSERT_TRUE(full);
  EXPECT_TRUE(full->schemeWritten && full->slashesWritten);
  EXPECT_EQ(full->target, "?q=1#f");
  EXPECT_FALSE(ParseUrl(" http://h.org/"));  // nothing is trimmed: the scheme is " http"
  EXPECT_FALSE(ParseUrl("mailto:a@h.org"));
  const std::optional<Url> empty = ParseUrl("");
  ASSERT_TRUE(empty);  // no host: the connection fails, not the parse
  EXPECT_EQ(empty->host, "");
}

// The store reads URLs with the client's parser, so a cookie stored for a
// URL is the one sent to the host that URL reaches.
TEST(CookieStoreUrls, FollowTheClientsReading) {
  TempDir dir;
  CookieStore store(dir.path() / "cookies.txt");
  EXPECT_TRUE(store.SetCookie(" \tHTTP://Shop.Example.com.:8080/a/b?q=1#top\t", "a=1"));
  EXPECT_EQ(store.GetCookies("http://shop.example.com/a/c"), "a=1");  // path /a, any port
  EXPECT_EQ(store.GetCookies("https://SHOP.example.com:443/a"), "a=1");
  EXPECT_EQ(store.GetCookies("http://shop.example.com/"), "");
  EXPECT_EQ(store.GetCookies("http://shop.example.com/a?x"), "a=1");

  // Only URLs written out in full are stored or matched.
  EXPECT_FALSE(store.SetCookie("shop.example.com/", "b=1"));
  EXPECT_FALSE(store.SetCookie("http:shop.example.com/", "b=1"));
  EXPECT_FALSE(store.SetCookie("http:/shop.example.com/", "b=1"));
  EXPECT_FALSE(store.SetCookie("ftp://shop.example.com/", "b=1"));
  EXPECT_FALSE(store.SetCookie("http:///a", "b=1"));  // no host
  EXPECT_FALSE(store.SetCookie("http://" + std::string(256, 'a') + "/", "b=1"));
  EXPECT_EQ(store.GetCookies("shop.example.com/a/c"), "");

  // The client reads no user information: "user@other.org" reaches the
  // host "user", and the store files the cookie under that host as well.
  EXPECT_TRUE(store.SetCookie("http://user@other.org/x", "c=1"));
  EXPECT_EQ(store.GetCookies("http://user/"), "c=1");
  EXPECT_EQ(store.GetCookies("http://other.org/"), "");
  // A target that does not start with '/' matches as the root path.
  EXPECT_TRUE(store.SetCookie("http://x.org?q=/deep/path", "d=1"));
  EXPECT_EQ(store.GetCookies("http://x.org/"), "d=1");
}

}  // namespace
}  // namespace velmar::testing
