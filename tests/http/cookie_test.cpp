// The cookie jar, its file, and the cookie store shared between programs.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "http/cookie_jar.h"
#include "http/cookie_store.h"
#include "engine/statements/http_statements.h"
#include "http/http_client.h"
#include "http/md5_crypt.h"
#include "http/mime_table.h"
#include "support/script_fixture.h"

namespace velmar::testing {
namespace {

const CodePage& Utf8() {
  return CodePage::Get(CodePage::kUtf8);
}

TEST(CookieJar, ParsesAndRebuildsTheCookieText) {
  CookieJar jar;
  jar.ParseCookieText("a=1; path=/; expires=Wed, 09-Jun-2021 10:18:14 GMT; HttpOnly");
  EXPECT_EQ(jar.entries(), (CookieJar::Entries{{"a", "1"}}));
  jar.ParseCookieText("x=1; secure; path=/");  // an attribute without "=" joins the next one
  EXPECT_EQ(jar.entries().at("secure; path"), "/");
  jar.Clear();
  jar.Set("a", "1");
  jar.Set("u=x", "2");
  jar.Set("u=y", "3");
  EXPECT_EQ(jar.CookieText(), "");  // only recomputed when asked
  jar.RecomputeCookieText();
  EXPECT_EQ(jar.CookieText(), "a=1;u=y=3&x=2");
  jar.Set("m", "{wren}");
  jar.RecomputeCookieText();
  EXPECT_EQ(jar.CookieText(), "a=1;m==;u=y=3&x=2");

  CookieJar lines;
  EXPECT_EQ(lines.TakeSetCookies("HTTP/1.0 200 OK\r\nX-Set-Cookie: no=1\r\nSet-Cookie: sid=b\r\n"
                                 "SET-COOKIE:   sid=a\r\nset-cookie\r\n\r\n"),
            3);
  // The walk runs from the last line up, so the first line wins.
  EXPECT_EQ(lines.entries(), (CookieJar::Entries{{"sid", "b"}}));
  EXPECT_EQ(lines.CookieText(), "sid=b");
}

TEST(CookieJar, ServersDeleteCookiesAndKeepSecureOnesToHttps) {
  CookieJar jar;
  jar.TakeSetCookies(
      "HTTP/1.1 200 OK\r\nSet-Cookie: sid=1; path=/\r\nSet-Cookie: u=id=5&nick=x\r\n"
      "Set-Cookie: tok=s; Secure; HttpOnly\r\nSet-Cookie: old=1; expires=Wed, 09-Jun-2021 "
      "10:18:14 GMT\r\nSet-Cookie: later=1; Expires=Fri, 01 Jan 2100 00:00:00 GMT\r\n\r\n");
  // A cookie that arrives already expired is never stored; one that expires
  // in the future is.
  EXPECT_EQ(jar.entries().count("old"), 0u);
  EXPECT_EQ(jar.CookieText(), "later=1;sid=1;tok=s;u=nick=x&id=5");
  EXPECT_EQ(jar.CookieText(true), "later=1;sid=1;tok=s;u=nick=x&id=5");
  EXPECT_EQ(jar.CookieText(false), "later=1;sid=1;u=nick=x&id=5");

  // Deleting by a past date, by Max-Age 0 (which outranks a future Expires),
  // and a compound cookie with all its sub-values.
  jar.TakeSetCookies("HTTP/1.1 200 OK\r\nSet-Cookie: sid=; expires=Thu, 01-Jan-70 00:00:01 GMT\r\n"
                     "Set-Cookie: later=1; Max-Age=0; expires=Fri, 01 Jan 2100 00:00:00 GMT\r\n"
                     "Set-Cookie: u=; Max-Age=-1\r\n\r\n");
  EXPECT_EQ(jar.CookieText(false), "");
  EXPECT_EQ(jar.CookieText(true), "tok=s");
  // The same name set again without Secure, or by the script, goes anywhere.
  jar.TakeSetCookies("Set-Cookie: tok=t\r\n\r\n");
  EXPECT_EQ(jar.CookieText(false), "tok=t");
  jar.TakeSetCookies("Set-Cookie: tok=s; secure\r\n\r\n");
  EXPECT_FALSE(jar.CookieText(false).find("tok") != std::string::npos);
  jar.Set("tok", "mine");
  jar.RecomputeCookieText();
  EXPECT_EQ(jar.CookieText(false), "tok=mine");
  // A date that cannot be read deletes nothing.
  jar.TakeSetCookies("Set-Cookie: tok=v; expires=soon\r\n\r\n");
  EXPECT_EQ(jar.CookieText(false), "tok=v");
}

TEST(CookieJar, SavesAndResumesItsFile) {
  TempDir dir;
  const std::string file = (dir.path() / "c.txt").string();
  CookieJar jar;
  jar.ParseCookieText("UserInfo=id=5&nick=x; b=2");
  jar.Set("caret", "p^q");
  jar.RecomputeCookieText();
  ASSERT_TRUE(jar.SaveFile(file, Utf8()));
  EXPECT_EQ(ReadFile(file), "UserInfo=id^5\r\nUserInfo=nick^x\r\nb^2\r\ncaret^p^q\r\n");
  CookieJar back;
  back.Set("old", "1");
  EXPECT_EQ(back.LoadFile(file, Utf8()), 4);
  EXPECT_EQ(back.CookieText(), "UserInfo=nick=x&id=5;b=2;caret=p");
  EXPECT_EQ(back.entries().count("old"), 0u);

  CookieJar empty;
  EXPECT_FALSE(empty.SaveFile(file, Utf8()));  // an empty jar leaves the file alone
  EXPECT_FALSE(ReadFile(file).empty());

  dir.Write("broken.txt", std::string("noseparator\r\n^\r\nk^v^w\r\r\n\r\n\0^z\n", 30));
  CookieJar broken;
  broken.Set("gone", "1");
  EXPECT_EQ(broken.LoadFile((dir.path() / "broken.txt").string(), Utf8()), 3);
  EXPECT_EQ(broken.entries().at("k"), "v");
  EXPECT_EQ(broken.entries().at(""), "");
  EXPECT_EQ(broken.entries().at(std::string(1, '\0')), "z");
  // In GBK a "^" byte may be the second half of a character.
  dir.Write("gbk.txt", "k^\x81^v^w\r\n");
  CookieJar gbk;
  EXPECT_EQ(gbk.LoadFile((dir.path() / "gbk.txt").string(), CodePage::Get(CodePage::kGbk)), 1);
  EXPECT_EQ(gbk.entries().at("k"), "\x81^v");
  CookieJar missing;
  missing.Set("kept", "1");
  missing.RecomputeCookieText();
  EXPECT_EQ(missing.LoadFile((dir.path() / "none.txt").string(), Utf8()), 0);
  EXPECT_TRUE(missing.entries().empty());
  EXPECT_EQ(missing.CookieText(), "kept=1");  // not recomputed after a failed load
}

TEST(CookieStore, MatchesDomainPathExpiryAndSecure) {
  TempDir dir;
  CookieStore store(dir.path() / "cookies.txt");
  const std::string forever = "; expires=Sat, 01-Jan-3000 00:00:00 GMT";
  EXPECT_EQ(CookieStore::ParseCookieDate("Sat, 01-Jan-3000 00:00:00 GMT"), 32503680000LL);
  EXPECT_EQ(CookieStore::ParseCookieDate("Wed, 09-Jun-2021 10:18:14 GMT"), 1623233894LL);
  EXPECT_EQ(CookieStore::ParseCookieDate("not a date"), -1);

  EXPECT_TRUE(store.SetCookie("http://www.Example.com/a/b", "sid=1" + forever));
  EXPECT_TRUE(store.SetCookie("http://www.example.com/a/b", "d=2; domain=.example.com; path=/"));
  EXPECT_TRUE(store.SetCookie("https://www.example.com/", "s=3; Secure; path=/a"));
  EXPECT_TRUE(store.SetCookie("http://www.example.com/", "gone=1; max-age=0"));
  EXPECT_FALSE(store.SetCookie("http://www.example.com/", "e=1; domain=other.com"));
  EXPECT_FALSE(store.SetCookie("ftp://www.example.com/", "f=1"));
  EXPECT_FALSE(store.SetCookie("http://www.example.com/", "no-equals-sign"));
  EXPECT_FALSE(store.SetCookie("http://www.example.com/", "t=a\tb"));

  EXPECT_EQ(store.GetCookies("https://www.example.com/a/c?q"), "sid=1; s=3; d=2");
  EXPECT_EQ(store.GetCookies("http://www.example.com/a/c"), "sid=1; d=2");
  EXPECT_EQ(store.GetCookies("http://www.example.com/ab"), "d=2");
  EXPECT_EQ(store.GetCookies("http://sub.example.com/"), "d=2");
  EXPECT_EQ(store.GetCookies("http://notexample.com/a/"), "");

  EXPECT_TRUE(store.SetCookie("http://www.example.com/a/", "sid=9; path=/a"));  // replaces
  EXPECT_EQ(store.GetCookies("http://www.example.com/a/x"), "sid=9; d=2");
  EXPECT_TRUE(store.SetCookie("http://www.example.com/a/",
                              "sid=x; expires=Thu, 01 Jan 1970 "
                              "00:00:00 GMT"));
  EXPECT_EQ(store.GetCookies("http://www.example.com/a/x"), "d=2");
  // A date before 1970 deletes as well; it must not read as "no date".
  EXPECT_EQ(CookieStore::ParseCookieDate("Wed, 31-Dec-1969 23:59:59 GMT"), 0);
  EXPECT_TRUE(store.SetCookie("http://www.example.com/", "d=old; path=/; domain=example.com"));
  EXPECT_TRUE(store.SetCookie("http://www.example.com/",
                              "d=gone; path=/; domain=example.com; expires=Mon, 01-Jan-1900 "
                              "00:00:00 GMT"));
  EXPECT_EQ(store.GetCookies("http://www.example.com/a/x"), "");
  // Only the owner may read the cookies.
  const auto perms = std::filesystem::status(store.file()).permissions();
  EXPECT_EQ(perms & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
            std::filesystem::perms::none);
}

TEST(CookieStore, KeepsForeignLinesAndSurvivesConcurrentWriters) {
  TempDir dir;
  const auto file = dir.Write("cookies.txt",
                              "# Netscape HTTP Cookie File\nbroken line\n"
                              "a\tb\tc\n.x.org\tTRUE\t/\tFALSE\tnope\tn\tv\n"
                              "x.org\tFALSE\t/\tFALSE\t0\tok\t1\n");
  CookieStore store(file);
  EXPECT_EQ(store.GetCookies("http://x.org/"), "ok=1");
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&store, t] {
      for (int i = 0; i < 20; ++i) {
        store.SetCookie("http://x.org/", "c" + std::to_string(t * 100 + i) + "=1; path=/");
      }
    });
  }
  for (std::thread& t : threads) t.join();
  const std::string all = store.GetCookies("http://x.org/");
  for (int t = 0; t < 8; ++t) {
    for (int i = 0; i < 20; ++i) {
      EXPECT_NE(all.find("c" + std::to_string(t * 100 + i) + "=1"), std::string::npos);
    }
  }
  const std::string text = ReadFile(file);
  EXPECT_NE(text.find("broken line\n"), std::string::npos);
  EXPECT_NE(text.find("nope\tn\tv\n"), std::string::npos);
}

TEST(CookieStore, SaveAndResumeStatementsShareTheStore) {
  ScriptFixture first;
  first.ctx->http.cookies().ParseCookieText("a=1; UserInfo=id=5");
  first.Run(stmt::kSaveIeCookies, "http://shop.example.com/cart");
  const std::string stored = ReadFile(first.home.path() / "cookies.txt");
  EXPECT_NE(stored.find("\tUserInfo\tid=5\n"), std::string::npos);
  EXPECT_NE(stored.find("\t32503680000\ta\t1\n"), std::string::npos);

  auto second = std::make_unique<ScriptContext>(first.env);
  second->http.cookies().Set("b", "2");
  ExecuteResumeIeCookies(*second, "http://shop.example.com/x");
  EXPECT_EQ(second->http.cookies().entries(),
            (CookieJar::Entries{{"UserInfo=id", "5"}, {"a", "1"}, {"b", "2"}}));
  EXPECT_EQ(second->http.cookies().CookieText(), "UserInfo=id=5;a=1;b=2");
  ExecuteResumeIeCookies(*second, "http://elsewhere.example.org/");
  EXPECT_EQ(second->http.cookies().entries().size(), 3u);

  first.Run(stmt::kSaveCookies, (first.home.path() / "jar.txt").string());
  ExecuteResumeCookies(*second, (first.home.path() / "jar.txt").string());
  EXPECT_EQ(second->http.cookies().entries(), first.ctx->http.cookies().entries());
}

// Another program holding the store's lock, played by a second open file
// description of the lock file (flock locks belong to those, not to processes).
class ForeignLock {
 public:
  explicit ForeignLock(const std::filesystem::path& store) {
    fd_ = open((store.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    locked_ = fd_ >= 0 && flock(fd_, LOCK_EX) == 0;
  }
  ~ForeignLock() { Release(); }
  bool locked() const { return locked_; }
  void Release() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  bool locked_ = false;
};

TEST(CookieStore, WaitsForABusyStoreOnlyForAWhile) {
  TempDir dir;
  const auto file = dir.Write("cookies.txt", "x.org\tFALSE\t/\tFALSE\t0\tok\t1\n");
  ForeignLock other(file);
  ASSERT_TRUE(other.locked());
  CookieStore store(file, nullptr, std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(store.GetCookies("http://x.org/"), "");
  EXPECT_FALSE(store.SetCookie("http://x.org/", "a=1"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  other.Release();
  EXPECT_TRUE(store.SetCookie("http://x.org/", "a=1"));
  EXPECT_EQ(store.GetCookies("http://x.org/"), "ok=1; a=1");
}

TEST(CookieStore, StopEndsTheWaitForABusyStore) {
  ScriptFixture script;
  const auto file = script.home.path() / "cookies.txt";
  ForeignLock other(file);
  ASSERT_TRUE(other.locked());
  script.ctx->http.cookies().Set("a", "1");
  std::chrono::steady_clock::time_point stoppedAt;
  std::atomic<bool> done{false};
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stoppedAt = std::chrono::steady_clock::now();
    script.ctx->stop.request();
    // A store that ignored the stop would wait for the lock for ever.
    for (int i = 0; i < 1000 && !done; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    other.Release();
  });
  script.Run(stmt::kSaveIeCookies, "http://x.org/");
  const auto ended = std::chrono::steady_clock::now();
  done = true;
  stopper.join();
  const auto latency = std::chrono::duration_cast<std::chrono::milliseconds>(ended - stoppedAt);
  RecordProperty("stop_latency_ms", static_cast<int>(latency.count()));
  EXPECT_LT(latency, std::chrono::seconds(5));
  EXPECT_EQ(ReadFile(file).find("\ta\t1\n"), std::string::npos);
}

TEST(CookieStore, WritersRemoveTempFilesOfDeadWriters) {
  TempDir dir;
  const auto file = dir.path() / "cookies.txt";
  // The process id of a writer that is gone.
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  waitpid(child, nullptr, 0);
  const std::string dead = "cookies.txt.tmp." + std::to_string(child) + ".123";
  const std::string live = "cookies.txt.tmp." + std::to_string(getpid()) + ".456";
  const std::vector<std::string> kept = {live, "cookies.txt.tmp.bak", "cookies.txt.tmp.1.x",
                                         "other.txt.tmp." + std::to_string(child) + ".1"};
  dir.Write(dead, "half a fi");
  for (const std::string& name : kept) dir.Write(name, "keep");
  CookieStore store(file);
  ASSERT_TRUE(store.SetCookie("http://x.org/", "a=1"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / dead));
  for (const std::string& name : kept) EXPECT_TRUE(std::filesystem::exists(dir.path() / name));
  // A file of a living process goes too once it has not changed for long.
  std::filesystem::last_write_time(dir.path() / live,
                                   std::filesystem::file_time_type::clock::now() -
                                       CookieStore::kStaleTempAge - std::chrono::minutes(1));
  ASSERT_TRUE(store.SetCookie("http://x.org/", "b=2"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / live));
  EXPECT_EQ(store.GetCookies("http://x.org/"), "a=1; b=2");
}

TEST(HttpTables, MimeTableAndMd5) {
  // 111 named "application/x-" extensions plus the empty one, 209 others and "*".
  EXPECT_EQ(MimeTable::Size(), 322u);
  EXPECT_EQ(MimeTable::Lookup("jpg"), "application/x-jpg");
  EXPECT_EQ(MimeTable::Lookup("jpeg"), "image/jpeg");
  EXPECT_EQ(MimeTable::Lookup(""), "application/x-");
  EXPECT_EQ(MimeTable::Lookup("x_t"), "application/x-x_t");
  EXPECT_EQ(MimeTable::Lookup("xquery"), "text/xml");
  EXPECT_EQ(MimeTable::Lookup("rmp"), "application/vnd.rn-rn_music_package");
  EXPECT_EQ(MimeTable::Lookup("class"), "java/*");
  EXPECT_EQ(MimeTable::Lookup("zzz"), "application/octet-stream");
  EXPECT_EQ(MimeTable::Lookup("JPG"), "application/octet-stream");  // keys are lower case
  EXPECT_EQ(CMD5Crypt::Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  CMD5Crypt md5;
  md5.Update("a");
  md5.Update("bc");
  EXPECT_EQ(md5.HexDigest(), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5.HexDigest(), "d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace
}  // namespace velmar::testing
