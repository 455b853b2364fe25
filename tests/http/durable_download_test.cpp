// Downloads, cookie files and the shared cookie store on a disk that fills
// up, behind planted links, and where a pipe or a device takes a file's place.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "http/cookie_store.h"
#include "engine/statements/http_statements.h"
#include "http/http_client.h"
#include "support/script_fixture.h"
#include "support/small_disk.h"
#include "test_servers.h"

namespace velmar::testing {
namespace {

namespace fs = std::filesystem;

RawServer::Handler Reply(std::string response) {
  return [response](int fd, const std::string&) { SendAll(fd, response); };
}

struct Diagnosed : ScriptFixture {
  Diagnosed() {
    env.diagnostic = [this](int32_t, std::string_view text) { diagnostics.emplace_back(text); };
  }
  std::vector<std::string> diagnostics;
};

TEST(DurableDownload, ACutDownloadLeavesTheOldFileAndFails) {
  SmallDisk disk(64 * 1024);
  VELMAR_NEED_SMALL_DISK(disk);
  RawServer server(Reply("HTTP/1.0 200 OK\r\n\r\n" + std::string(2000000, 'd')));
  Diagnosed f;
  const fs::path file = disk.path() / "big.bin";
  { std::ofstream(file) << "earlier download"; }
  f.Run(stmt::kSaveto, file.string());
  f.Run(stmt::kGet, server.url("/big"));
  EXPECT_EQ(f.status(), "0");
  EXPECT_EQ(ReadFile(file), "earlier download");
  EXPECT_EQ(f.ctx->http.failure().code, HttpFailure::kSaveFailed);
  ASSERT_EQ(f.diagnostics.size(), 1u);
  EXPECT_NE(f.diagnostics[0].find("No space left on device"), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(disk.path()), fs::directory_iterator()), 1);
  // The save-to path is spent either way; the next get reads into memory.
  EXPECT_EQ(f.ctx->http.saveToPath(), "");

  // A download that fits replaces the old file whole.
  RawServer small(Reply("HTTP/1.0 200 OK\r\n\r\nnew"));
  f.Run(stmt::kSaveto, file.string());
  f.Run(stmt::kGet, small.url("/s"));
  EXPECT_EQ(f.status(), "1");
  EXPECT_EQ(ReadFile(file), "new");
}

TEST(DurableDownload, SavecookiesOnAFullDiskKeepsTheEarlierFile) {
  SmallDisk disk(64 * 1024);
  VELMAR_NEED_SMALL_DISK(disk);
  Diagnosed f;
  const fs::path file = disk.path() / "jar.txt";
  f.Run(stmt::kSetCookies, "sid abc");
  f.Run(stmt::kSaveCookies, file.string());
  ASSERT_EQ(ReadFile(file), "sid^abc\r\n");
  struct stat st;
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(f.diagnostics.empty());

  disk.Fill();
  f.Run(stmt::kSetCookies, "big " + std::string(20000, 'c'));
  f.Run(stmt::kSaveCookies, file.string());
  EXPECT_EQ(ReadFile(file), "sid^abc\r\n");
  ASSERT_EQ(f.diagnostics.size(), 1u);
  EXPECT_NE(f.diagnostics[0].find("No space left on device"), std::string::npos);

  // The shared store too keeps its earlier cookies and reports.
  fs::remove(disk.path() / "filler");
  CookieStore store(disk.path() / "cookies.txt");
  ASSERT_TRUE(store.SetCookie("http://a.test/", "one=1; expires=Fri, 01 Jan 2100 00:00:00 GMT"));
  const std::string before = ReadFile(disk.path() / "cookies.txt");
  disk.Fill();
  EXPECT_FALSE(store.SetCookie("http://a.test/",
                               "two=" + std::string(20000, 'v') +
                                   "; expires=Fri, 01 Jan 2100 00:00:00 GMT"));
  EXPECT_NE(store.lastError().find("No space left on device"), std::string::npos);
  EXPECT_EQ(ReadFile(disk.path() / "cookies.txt"), before);
  EXPECT_EQ(store.GetCookies("http://a.test/"), "one=1");
}

TEST(DurableDownload, CaptchaImagesReplaceAPlantedLink) {
  RawServer server(Reply("HTTP/1.0 200 OK\r\n\r\nPNGDATA"));
  TempDir outside;
  const fs::path victim = outside.Write("victim", "precious");
  Diagnosed f;
  f.ctx->id = 1;
  fs::create_directories(f.home.path() / "Temp");
  const fs::path image = f.home.path() / "Temp" / "captcha_1.png";
  fs::create_symlink(victim, image);
  f.Run(stmt::kCaptcha, "png " + server.url("/c"));
  EXPECT_EQ(ReadFile(victim), "precious");
  EXPECT_FALSE(fs::is_symlink(image));
  EXPECT_EQ(ReadFile(image), "PNGDATA");

  // saveto names its path itself: written through the link, kept a link.
  const fs::path link = f.home.path() / "mine";
  fs::create_symlink(victim, link);
  f.Run(stmt::kSaveto, link.string());
  f.Run(stmt::kGet, server.url("/d"));
  EXPECT_EQ(f.status(), "1");
  EXPECT_EQ(ReadFile(victim), "PNGDATA");
  EXPECT_TRUE(fs::is_symlink(link));
}

// A `Temp` that is a link planted to a folder elsewhere carries neither a
// captcha image there: the request is not made and the diagnostics say why.
TEST(DurableDownload, APlantedTempLinkIsNeverWrittenThrough) {
  RawServer server(Reply("HTTP/1.0 200 OK\r\n\r\nPNGDATA"));
  TempDir outside;
  Diagnosed f;
  f.ctx->id = 1;
  fs::create_symlink(outside.path(), f.home.path() / "Temp");
  f.Run(stmt::kCaptcha, "png " + server.url("/c"));
  EXPECT_EQ(f.status(), "0");
  EXPECT_TRUE(fs::is_empty(outside.path()));
  ASSERT_EQ(f.diagnostics.size(), 1u);
  EXPECT_NE(f.diagnostics[0].find("symbolic link"), std::string::npos) << f.diagnostics[0];

}

// A store or a cookie file that is a pipe or a device is an empty jar, at
// once; the store is never replaced by one made from nothing.
TEST(DurableDownload, CookieFilesThatAreNoFilesReadAsEmpty) {
  Diagnosed f;
  const fs::path store = f.home.path() / "cookies.txt";
  ASSERT_EQ(::mkfifo(store.c_str(), 0600), 0);
  const auto start = std::chrono::steady_clock::now();
  f.Run(stmt::kResumeIeCookies, "http://a.test/");
  EXPECT_EQ(f.ctx->http.cookies().CookieText(), "");
  f.Run(stmt::kSetCookies, "k v");
  f.Run(stmt::kSaveIeCookies, "http://a.test/");
  struct stat st;
  ASSERT_EQ(::lstat(store.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  ASSERT_EQ(f.diagnostics.size(), 2u);
  EXPECT_NE(f.diagnostics[0].find("not a regular file"), std::string::npos) << f.diagnostics[0];

  fs::remove(store);
  fs::create_symlink("/dev/zero", store);
  EXPECT_EQ(CookieStore(store).GetCookies("http://a.test/"), "");
  const fs::path jar = f.home.path() / "jar";
  fs::create_symlink("/dev/zero", jar);
  f.Run(stmt::kResumeCookies, jar.string());
  EXPECT_TRUE(f.ctx->http.cookies().entries().empty());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

// The body of the last response that was read stays in http_body, as the
// headers stay in http_head, when a request reads none.
TEST(DurableDownload, AFailedRequestKeepsTheLastResponse) {
  RawServer server(Reply("HTTP/1.0 200 OK\r\nX: 1\r\n\r\nthe page"));
  ScriptFixture f;
  f.Run(stmt::kGet, server.url("/p"));
  ASSERT_EQ(f.Var("http_body"), "the page");
  const std::string head = f.Var("http_head");
  const int closed = FreeLoopbackPort();
  for (const std::string& url : {"http://127.0.0.1:" + std::to_string(closed) + "/",
                                 std::string("gopher://127.0.0.1/"), std::string("http://[::")}) {
    SCOPED_TRACE(url);
    f.Run(stmt::kGet, url);
    EXPECT_EQ(f.status(), "0");
    EXPECT_EQ(f.Var("http_head"), head);
    EXPECT_EQ(f.Var("http_body"), "the page");
  }
  // A response that arrives replaces both.
  RawServer empty(Reply("HTTP/1.0 204 No Content\r\n\r\n"));
  f.Run(stmt::kGet, empty.url("/e"));
  EXPECT_EQ(f.Var("http_body"), "");
}

}  // namespace
}  // namespace velmar::testing
