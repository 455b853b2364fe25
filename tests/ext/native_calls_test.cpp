#include "engine/statements/native_statements.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/script_fixture.h"
#include "support/test_support.h"

namespace velmar {
namespace {

class NativeCalls : public ::testing::Test, protected testing::ScriptFixture {
 protected:
  std::string Call(std::string_view text) { return CallNative(*ctx, text); }
  // The reason of the only alert so far.
  std::string Reason() {
    const std::vector<std::string> alerts = host.Alerts();
    if (alerts.size() != 1) return "alerts: " + std::to_string(alerts.size());
    const std::string& alert = alerts.front();
    const std::size_t at = alert.find("原因：");
    return at == std::string::npos ? alert : alert.substr(at + std::string("原因：").size());
  }
  int Calls() { return std::stoi(Call("(int)t.call_count")); }
};

TEST_F(NativeCalls, IntegersTextsAndArgumentOrder) {
  ExecuteLoadDll(*ctx, std::string("t ") + VELMAR_EXT_TEST_LIB);
  ASSERT_NE(ctx->libraries.find("t"), nullptr);
  ASSERT_NE(ctx->libraries.find("t")->handle, nullptr) << ctx->libraries.find("t")->loadError;

  EXPECT_EQ(Call("(int)t.add<<<(int)2<<<(int)3"), "5");
  // The first written argument is the last parameter: minus(2, 1).
  EXPECT_EQ(Call("(int)t.minus<<<(int)1<<<(int)2"), "1");
  EXPECT_EQ(Call("(int)t.minus<<<(int)-7<<<(int)0"), "7");
  EXPECT_EQ(Call("t.join3<<<c<<<b<<<a"), "a|b|c");
  EXPECT_EQ(Call("(char*)t.join3<<<<<<(char*) x<<<"), "| x|");
  EXPECT_EQ(Call("t.repeat<<<(int)3<<<ab"), "ababab");
  EXPECT_EQ(
      Call("(int)t.sum8<<<(int)8<<<(int)7<<<(int)6<<<(int)5<<<(int)4<<<(int)3<<<(int)2<<<(int)1"),
      "87654321");
  // Type names ignore case and blanks; an integer skips leading blanks,
  // reads as far as it can, and stays inside 32 bits.
  EXPECT_EQ(Call("( INT )t.add<<<(INT) 42<<<( int )8xyz"), "50");
  EXPECT_EQ(Call("(int)t.add<<<(int)abc<<<(int)"), "0");
  EXPECT_EQ(Call("(int)t.add<<<(int)99999999999<<<(int)0"), "2147483647");
  // An unknown type name means text: the pointer goes in, join3 shows it.
  EXPECT_EQ(Call("(wchar)t.join3<<<(long)3<<<2<<<1"), "1|2|3");
  // A null text result is the empty text; a wide one is converted.
  EXPECT_EQ(Call("t.nothing"), "");
  EXPECT_EQ(Call("(bstr)t.wide"), "wide 中文 😀");
  EXPECT_TRUE(host.Alerts().empty());

  const CodePage& gbk = CodePage::Get(CodePage::kGbk);
  env.codePage = &gbk;
  EXPECT_EQ(Call("(bstr)t.wide").rfind(gbk.FromUtf8("wide 中文 ?"), 0), 0u);
}

TEST_F(NativeCalls, CacheFollowsTheLibraryTable) {
  ExecuteLoadDll(*ctx, std::string("t ") + VELMAR_EXT_TEST_LIB);
  EXPECT_EQ(Call("(int)t.add<<<(int)1<<<(int)1"), "2");
  EXPECT_EQ(Call("(int)t.call_count"), "1");
  EXPECT_NE(ctx->entryPoints.find("t.add"), nullptr);
  // A cached head is called without resolving it again: point it elsewhere
  // and the other function answers.
  ctx->entryPoints.insert("t.add", "t", ctx->entryPoints.find("t.call_count"));
  const std::string count = Call("(int)t.add<<<(int)100<<<(int)100");
  EXPECT_NE(count, "200");
  EXPECT_EQ(count, Call("(int)t.call_count"));

  ExecuteUnloadDll(*ctx, "t");
  EXPECT_EQ(ctx->libraries.find("t"), nullptr);
  EXPECT_EQ(ctx->entryPoints.find("t.add"), nullptr);
  EXPECT_EQ(ctx->entryPoints.find("t.call_count"), nullptr);
  EXPECT_EQ(Call("(int)t.add<<<(int)1<<<(int)1"), "");
  EXPECT_EQ(Reason(), "t DLL文件不存在．");

  ResetContext();
  ExecuteUnloadDll(*ctx, "t");
  EXPECT_EQ(host.Alerts().size(), 1u);
  EXPECT_NE(host.Alerts().front().find("\"UNLOADDLL t\""), std::string::npos);
  EXPECT_EQ(Reason(), "释放了未定义的DLL．");

  // Loading again under a name replaces the library and its addresses.
  ResetContext();
  ExecuteLoadDll(*ctx, std::string("t ") + VELMAR_EXT_TEST_LIB);
  // With both its arguments: a C function reads the missing ones from
  // whatever its registers hold.
  Call("(int)t.add<<<(int)1<<<(int)1");
  ExecuteLoadDll(*ctx, "t libc.so.6");
  EXPECT_EQ(ctx->entryPoints.size(), 0u);
  EXPECT_EQ(Call("(int)t.abs<<<(int)-4"), "4");
}

TEST_F(NativeCalls, LibrariesAreFreedWithTheirTable) {
  auto loaded = [] {
    void* handle = dlopen(VELMAR_EXT_TEST_LIB, RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
  };
  ASSERT_FALSE(loaded());
  ExecuteLoadDll(*ctx, std::string("a ") + VELMAR_EXT_TEST_LIB);
  ExecuteLoadDll(*ctx, std::string("b ") + VELMAR_EXT_TEST_LIB);
  ExecuteUnloadDll(*ctx, "a");
  EXPECT_TRUE(loaded());
  EXPECT_EQ(Call("(int)b.add<<<(int)1<<<(int)2"), "3");
  ctx.reset();
  EXPECT_FALSE(loaded());
}

TEST_F(NativeCalls, LibcCalls) {
  ExecuteLoadDll(*ctx, "c libc.so.6");
  EXPECT_EQ(Call("(int)c.abs<<<(int)-12"), "12");
  EXPECT_EQ(Call("(int)c.strlen<<<hello"), "5");
  EXPECT_EQ(Call("(int)c.atoi<<< 77 apples"), "77");
  // strcmp(a, b) with the arguments written b first.
  EXPECT_LT(std::stoi(Call("(int)c.strcmp<<<b<<<a")), 0);
  EXPECT_EQ(Call("c.getenv<<<VELMAR_SURELY_UNSET_VARIABLE"), "");
  EXPECT_TRUE(host.Alerts().empty());
}

TEST_F(NativeCalls, FormatErrorsAndUnknownNames) {
  ExecuteLoadDll(*ctx, std::string("t ") + VELMAR_EXT_TEST_LIB);
  const int before = Calls();

  auto expectError = [&](std::string_view call, const std::string& reason) {
    host.requests.clear();
    EXPECT_EQ(Call(call), "") << call;
    EXPECT_EQ(Reason(), reason) << call;
  };
  expectError("(int)t.add<<<(bstr)1<<<(int)2", "格式有误．");
  expectError("(int t.add<<<(int)1", "格式有误．括号不匹配！");
  EXPECT_NE(host.Alerts().front().find("\"(int t.add\""), std::string::npos);
  expectError("(int)t.add<<<(int 1", "格式有误．括号不匹配！");
  expectError("(int)tadd<<<(int)1", "格式有误．");
  expectError("", "格式有误．");
  expectError("(int)nolib.add", "nolib DLL文件不存在．");
  expectError("(int)t.nosuch", "t.nosuch DLL中不存在该函数名．");
  expectError("(int)t.", "t. DLL中不存在该函数名．");
  expectError("(int).add", " DLL文件不存在．");
  std::string many = "(int)t.add";
  for (int i = 0; i < 1000; ++i) many += "<<<(int)1";
  expectError(many, "格式有误．");
  // None of the refused calls reached the library.
  EXPECT_EQ(Calls(), before);
  EXPECT_TRUE(ctx->libraries.find("t")->handle != nullptr);
}

TEST_F(NativeCalls, FailedLoadsAreKept) {
  testing::TempDir dir;
  const auto notLibrary = dir.Write("fake.so", "this is no shared object\n");
  ExecuteLoadDll(*ctx, "bad " + notLibrary.string());
  const LoadedLibrary* bad = ctx->libraries.find("bad");
  ASSERT_NE(bad, nullptr);
  EXPECT_EQ(bad->handle, nullptr);
  EXPECT_FALSE(bad->loadError.empty());
  EXPECT_TRUE(host.Alerts().empty());
  // No function comes out of a failed load, not even one the process has.
  EXPECT_EQ(Call("(int)bad.abs<<<(int)-1"), "");
  EXPECT_EQ(Reason(), "bad.abs DLL中不存在该函数名．");

  ResetContext();
  ExecuteLoadDll(*ctx, "missing /nonexistent/libnothing.so");
  ExecuteLoadDll(*ctx, "empty ");
  ASSERT_NE(ctx->libraries.find("empty"), nullptr);
  EXPECT_EQ(ctx->libraries.find("empty")->handle, nullptr);
  EXPECT_EQ(ctx->libraries.find("missing")->handle, nullptr);
  ExecuteUnloadDll(*ctx, "missing");
  EXPECT_TRUE(host.Alerts().empty());

  // A name without a path is a format error, with the whole text shown.
  ExecuteLoadDll(*ctx, "lonely");
  EXPECT_EQ(Reason(), "格式有误．");
  EXPECT_NE(host.Alerts().front().find("\"lonely\""), std::string::npos);

  // A bare file name is found in the home folder first.
  ResetContext();
  testing::TempDir home;
  std::filesystem::copy_file(VELMAR_EXT_TEST_LIB, home.path() / "mine.so");
  env.home = home.path();
  ExecuteLoadDll(*ctx, "m mine.so");
  EXPECT_EQ(Call("(int)m.add<<<(int)20<<<(int)22"), "42");

  // In code page 936 a character whose trail byte is that of `\` stays whole.
  testing::ScriptFixture gbk(CodePage::kGbk);
  const std::filesystem::path gbkFile = gbk.home.path() / "\x81\x5C.so";
  std::filesystem::copy_file(VELMAR_EXT_TEST_LIB, gbkFile);
  ExecuteLoadDll(*gbk.ctx, "g " + gbkFile.string());
  EXPECT_EQ(CallNative(*gbk.ctx, "(int)g.add<<<(int)1<<<(int)2"), "3");
  EXPECT_TRUE(gbk.Alerts().empty());
}

}  // namespace
}  // namespace velmar
