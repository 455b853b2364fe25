#include "engine/engine_environment.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "support/test_support.h"

namespace velmar {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(EngineEnvironment, HomeFolderResolution) {
  TempDir dir;
  const fs::path a = dir.path() / "a";
  const fs::path b = dir.path() / "b";
  {
    ScopedEnv home("VELMAR_HOME", b.c_str());
    EXPECT_EQ(ResolveHomeFolder(a.string() + "/"), a);  // --home wins, no trailing slash
    EXPECT_TRUE(fs::is_directory(a));
    EXPECT_EQ(ResolveHomeFolder(""), b);
    EXPECT_TRUE(fs::is_directory(b));
  }
  // Without both, the data folder of the user (the test program's folder
  // holds neither Script/ nor Config.ini).
  ScopedEnv noHome("VELMAR_HOME", nullptr);
  {
    ScopedEnv xdg("XDG_DATA_HOME", (dir.path() / "xdg").c_str());
    EXPECT_EQ(ResolveHomeFolder(""), dir.path() / "xdg" / "velmar");
    EXPECT_TRUE(fs::is_directory(dir.path() / "xdg" / "velmar"));
  }
  {
    ScopedEnv xdg("XDG_DATA_HOME", "relative/data");
    ScopedEnv user("HOME", (dir.path() / "user").c_str());
    EXPECT_EQ(ResolveHomeFolder(""), dir.path() / "user" / ".local" / "share" / "velmar");
  }
}

TEST(EngineEnvironment, CodePageComesFromConfig) {
  TempDir dir;
  const EngineEnvironment plain = EngineEnvironment::ForHome(dir.path());
  EXPECT_EQ(plain.codePage->id(), CodePage::kUtf8);
  EXPECT_EQ(plain.config.file(), dir.path() / "Config.ini");

  dir.Write("Config.ini", "[setting]\r\ncodepage=936\r\n");
  const EngineEnvironment gbk = EngineEnvironment::ForHome(dir.path(), KeywordFlavor::kRunner);
  EXPECT_TRUE(gbk.codePage->IsGbk());
  EXPECT_EQ(gbk.flavor, KeywordFlavor::kRunner);

  dir.Write("Config.ini", "[setting]\r\ncodepage=1252\r\n");
  EXPECT_EQ(EngineEnvironment::ForHome(dir.path()).codePage->id(), CodePage::kUtf8);
}

// Every host of a program and every copy of its environment evaluates on
// one engine, so a global one script sets is seen by the next evaluation.
TEST(EngineEnvironment, CopiesShareOneJScriptEngineAndItsTimeLimit) {
  TempDir dir;
  dir.Write("Config.ini", "[setting]\r\njstimeout=2\r\n");
  const EngineEnvironment env = EngineEnvironment::ForHome(dir.path());
  const EngineEnvironment copy = env;
  EXPECT_EQ(copy.jscript->engine.timeLimitMs(), 2000);
  std::string result;
  ASSERT_TRUE(env.EvaluateJs("shared = 40 + 2", result));
  ASSERT_TRUE(copy.EvaluateJs("shared", result));
  EXPECT_EQ(result, "42");
  std::string error;
  EXPECT_FALSE(copy.EvaluateJs("(", result, &error));
  EXPECT_EQ(error.rfind("Error: ", 0), 0u) << error;

  dir.Write("Config.ini", "[setting]\r\njstimeout=0\r\n");
  EXPECT_EQ(JsTimeLimitMs(Profile(dir.path() / "Config.ini")), 0);
  dir.Write("Config.ini", "[setting]\r\n");
  EXPECT_EQ(JsTimeLimitMs(Profile(dir.path() / "Config.ini")), 10000);
}

}  // namespace
}  // namespace velmar
