// CAdo over ODBC: SQLite files through the SQLite3 driver, Access files
// through MDB Tools, SQL Server through FreeTDS.

#include <gtest/gtest.h>

#include <filesystem>

#include "data/ado_connection.h"
#include "data/connection_table.h"
#include "engine/keyword_table.h"
#include "support/script_fixture.h"

namespace velmar::testing {
namespace {

CAdo* AdoOf(ScriptFixture& script, const std::string& name) {
  const auto entry = script.ctx->connections.find(name);
  return entry == script.ctx->connections.end() ? nullptr
                                                : dynamic_cast<CAdo*>(entry->second.get());
}

TEST(AdoSqlite, EveryDeclaredTypeBecomesText) {
  ScriptFixture script;
  const std::string file = (script.home.path() / "local.db").string();
  script.Run(stmt::kOpenAccess, "db " + file);
  ASSERT_EQ(script.status(), "1") << script.ctx->connections["db"]->lastError();
  EXPECT_TRUE(std::filesystem::exists(file));
  script.Run(stmt::kExecute,
             "db create table t (id INTEGER, b BOOLEAN, r REAL, d DATETIME, bl BLOB, big BIGINT, "
             "txt TEXT, ti TINYINT, dt DATE, tm TIME)");
  EXPECT_EQ(script.status(), "1") << script.ctx->connections["db"]->lastError();
  script.Run(stmt::kExecute,
             "db insert into t values (1, 1, 1.5, '2009-03-01 08:05:09', X'00FF0041', "
             "9007199254740993, '中文', -1, '2024-02-29', '23:59:58')");
  EXPECT_EQ(script.status(), "1") << script.ctx->connections["db"]->lastError();
  script.Run(stmt::kExecute,
             "db insert into t values (2, null, null, null, null, null, null, null, null, null)");
  script.Run(stmt::kExecute,
             "db insert into t values (3, 0, 3, '2000-01-01 00:00:00', X'', -5, '', 200, null, "
             "null)");
  script.Run(stmt::kExecute,
             "db insert into t values (4, 2, 1e300, null, null, null, null, null, null, null)");
  script.Run(stmt::kQuery, "db r select * from t order by id");
  EXPECT_EQ(script.status(), "1") << script.ctx->connections["db"]->lastError();
  const ResultSet& rows = script.ctx->resultSets["r"];
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[3][1], "TRUE");
  EXPECT_EQ(rows[3][2].size(), 304u);

  EXPECT_EQ(rows[0],
            (ResultRow{"1", "TRUE", "1.50", "2009-03-01 08:05:09", "[BLOB]", "9007199254740993",
                       "中文", "255", "2024-02-29 00:00:00", "1899-12-30 23:59:58"}));
  EXPECT_EQ(rows[1], (ResultRow{"2", "", "", "", "", "", "", "", "", ""}));
  EXPECT_EQ(rows[2], (ResultRow{"3", "FALSE", "3.00", "2000-01-01 00:00:00", "[BLOB]", "-5", "",
                                "200", "", ""}));

  std::string value;
  EXPECT_TRUE(script.ctx->connections["db"]->QueryValue("select r from t where id = 1", value));
  EXPECT_EQ(value, "1.50");
  EXPECT_FALSE(script.ctx->connections["db"]->QueryValue("select r from t where id = 9", value));
}

TEST(AdoSqlite, ChineseTextInCodePage936) {
  ScriptFixture script(CodePage::kGbk);
  const CodePage& cp = CodePage::Get(CodePage::kGbk);
  // The file name is given in the script's code page and lands in UTF-8.
  script.Run(stmt::kOpenAccess,
             "db " + (script.home.path() / "gbk").string() + cp.FromUtf8("数据.db"));
  ASSERT_EQ(script.status(), "1") << script.ctx->connections["db"]->lastError();
  EXPECT_TRUE(std::filesystem::exists(script.home.path() / "gbk数据.db"));
  // A character whose trail byte is that of `\` is no folder separator.
  script.Run(stmt::kOpenAccess, "other " + (script.home.path() / "\x81\x5C.db").string());
  ASSERT_EQ(script.status(), "1") << script.ctx->connections["other"]->lastError();
  EXPECT_TRUE(std::filesystem::exists(script.home.path() / (cp.ToUtf8("\x81\x5C") + ".db")));
  script.Run(stmt::kExecute, "db create table words (word TEXT)");
  script.Run(stmt::kExecute, "db insert into words values ('" + cp.FromUtf8("中文测试") + "')");
  EXPECT_EQ(script.status(), "1");
  script.Run(stmt::kQuery, "db r select word, hex(word) from words");
  // The file holds UTF-8; the script sees its own code page.
  EXPECT_EQ(script.ctx->resultSets["r"],
            (ResultSet{{cp.FromUtf8("中文测试"), "E4B8ADE69687E6B58BE8AF95"}}));
  // A name of the script's code page in a table name and in an error.
  script.Run(stmt::kQuery, "db r select * from " + cp.FromUtf8("缺少"));
  EXPECT_EQ(script.status(), "0");
  EXPECT_NE(script.ctx->connections["db"]->lastError().find(cp.FromUtf8("缺少")),
            std::string::npos);
  script.Run(stmt::kExecute, cp.FromUtf8("库 select 1"));
  ASSERT_EQ(script.Alerts().size(), 1u);
  EXPECT_EQ(script.Alerts()[0], "出错：\"库 select 1\"\r\n原因：库 数据库连接不存在．");
}

TEST(AdoSqlite, FailuresReuseAndLargeResults) {
  ScriptFixture script;
  // A relative path is a file of the home folder.
  script.Run(stmt::kOpenAccess, "db data\\rel.db");
  EXPECT_EQ(script.status(), "0");
  std::filesystem::create_directory(script.home.path() / "data");
  script.Run(stmt::kOpenAccess, "db data\\rel.db");
  ASSERT_EQ(script.status(), "1");
  EXPECT_TRUE(std::filesystem::exists(script.home.path() / "data" / "rel.db"));
  EXPECT_EQ(script.ctx->connections.size(), 1u);

  script.Run(stmt::kQuery, "db r selec 1");
  EXPECT_EQ(script.status(), "0");
  EXPECT_EQ(script.ctx->connections["db"]->failure().code, DbFailure::kDriver);
  EXPECT_NE(script.ctx->connections["db"]->lastError().find("syntax error"), std::string::npos);
  script.Run(stmt::kExecute, "db insert into nowhere values (1)");
  EXPECT_EQ(script.status(), "0");
  EXPECT_NE(script.ctx->connections["db"]->lastError().find("nowhere"), std::string::npos);
  script.Run(stmt::kExecute, "db create table t (n INTEGER, s TEXT)");
  script.Run(stmt::kQuery, "db r select n from t");
  EXPECT_EQ(script.status(), "1");
  EXPECT_TRUE(script.ctx->resultSets["r"].empty());
  // Statements without rows through `query`.
  script.Run(stmt::kQuery, "db r insert into t values (1, 'a')");
  EXPECT_EQ(script.status(), "1");
  EXPECT_TRUE(script.ctx->resultSets["r"].empty());

  script.Run(stmt::kExecute,
             "db insert into t with recursive s(n) as (select 2 union all select n + 1 from s "
             "where n < 100000) select n, 'row' || n from s");
  EXPECT_EQ(script.status(), "1") << script.ctx->connections["db"]->lastError();
  script.Run(stmt::kQuery, "db r select n, s from t order by n");
  ASSERT_EQ(script.ctx->resultSets["r"].size(), 100000u);
  EXPECT_EQ(script.ctx->resultSets["r"].back(), (ResultRow{"100000", "row100000"}));

  script.Run(stmt::kCloseDb, "db");
  EXPECT_TRUE(script.ctx->connections.empty());
  script.Run(stmt::kExecute, "db select 1");
  EXPECT_EQ(script.status(), "0");
  ASSERT_EQ(script.Alerts().size(), 1u);
  EXPECT_EQ(script.Alerts()[0], "出错：\"db select 1\"\r\n原因：db 数据库连接不存在．");

  // Using a closed connection object again is a failure, not a crash.
  CAdo direct("DRIVER=" + CAdo::DriverAttribute("SQLite3") +
                  ";Database=" + (script.home.path() / "direct.db").string(),
              CodePage::Get(CodePage::kUtf8));
  ASSERT_TRUE(direct.Open()) << direct.lastError();
  EXPECT_TRUE(direct.IsOpen());
  direct.Close();
  EXPECT_FALSE(direct.IsOpen());
  ResultSet rows{{"x"}};
  EXPECT_FALSE(direct.QueryRows("select 1", rows));
  EXPECT_TRUE(rows.empty());
  EXPECT_FALSE(direct.Execute("select 1"));
  ASSERT_TRUE(direct.Open());
  EXPECT_TRUE(direct.QueryRows("select 1", rows));
  EXPECT_EQ(rows, (ResultSet{{"1"}}));
}

TEST(AdoDrivers, AccessServerAndDriverChoice) {
  ScriptFixture script;
  // Without a path only the status tells.
  script.Run(stmt::kOpenAccess, "db");
  EXPECT_EQ(script.status(), "0");
  EXPECT_TRUE(script.Alerts().empty());

  // Access files go to MDB Tools, which cannot open a missing file.
  script.Run(stmt::kOpenAccess, "mdb " + (script.home.path() / "missing.MDB").string());
  EXPECT_EQ(script.status(), "0");
  ASSERT_NE(AdoOf(script, "mdb"), nullptr);
  EXPECT_NE(AdoOf(script, "mdb")->connectionText().find("DBQ="), std::string::npos);
  EXPECT_FALSE(AdoOf(script, "mdb")->IsOpen());
  EXPECT_FALSE(std::filesystem::exists(script.home.path() / "missing.MDB"));
  script.Run(stmt::kOpenAccess,
             "mdb " + script.home.Write("junk.accdb", "not a database").string());
  EXPECT_EQ(script.status(), "0");

  // SQL Server on a port where nobody listens.
  const int port = FreeLoopbackPort();
  script.Run(stmt::kOpenMssql,
             "ms 127.0.0.1," + std::to_string(port) + "<<<master<<<sa<<<secret;x}");
  EXPECT_EQ(script.status(), "0");
  ASSERT_NE(AdoOf(script, "ms"), nullptr);
  EXPECT_NE(AdoOf(script, "ms")->lastError().find("connect"), std::string::npos)
      << AdoOf(script, "ms")->lastError();
  EXPECT_NE(AdoOf(script, "ms")->connectionText().find("Port=" + std::to_string(port)),
            std::string::npos);
  EXPECT_NE(AdoOf(script, "ms")->connectionText().find("PWD={secret;x}}}"), std::string::npos);
  script.Run(stmt::kQuery, "ms r select 1");
  EXPECT_EQ(script.status(), "0");
  EXPECT_EQ(AdoOf(script, "ms")->failure().code, DbFailure::kNotOpen);
  EXPECT_EQ(AdoOf(script, "ms")->lastError(), "connection is not open");
  EXPECT_TRUE(script.Alerts().empty());

  script.ctx->executionStack.push_back(2);
  script.Run(stmt::kOpenMssql, "ms host<<<master<<<sa");
  EXPECT_EQ(script.status(), "0");
  ASSERT_EQ(script.Alerts().size(), 1u);
  EXPECT_EQ(script.Alerts()[0],
            "出错：\"ms host<<<master<<<sa\"\r\n原因：格式有误，请按ms "
            "server<<<catlog<<<username<<<password修改．");
  EXPECT_TRUE(script.ctx->executionStack.empty());

  // Config.ini names the drivers: an unknown name fails, a library path works.
  ScriptFixture unknown(CodePage::kUtf8, "[setting]\r\nodbcsqlite=NoSuchDriver\r\n");
  unknown.Run(stmt::kOpenAccess, "db " + (unknown.home.path() / "a.db").string());
  EXPECT_EQ(unknown.status(), "0");
  EXPECT_FALSE(unknown.ctx->connections["db"]->lastError().empty());
  const std::string library = CAdo::DriverAttribute("SQLite3");
  if (library.front() == '/') {
    GTEST_LOG_(INFO) << "SQLite3 is not registered; the tests use " << library;
  }
  std::string path = library;
  if (path.front() != '/') {
    for (const char* folder :
         {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc"}) {
      if (std::filesystem::exists(std::string(folder) + "/libsqlite3odbc.so")) {
        path = std::string(folder) + "/libsqlite3odbc.so";
      }
    }
  }
  ASSERT_EQ(path.front(), '/');
  ScriptFixture byPath(CodePage::kUtf8, "[setting]\r\nodbcsqlite=" + path + "\r\n");
  byPath.Run(stmt::kOpenAccess, "db " + (byPath.home.path() / "b.db").string());
  EXPECT_EQ(byPath.status(), "1") << byPath.ctx->connections["db"]->lastError();
  EXPECT_EQ(AdoOf(byPath, "db")->connectionText().rfind("DRIVER=" + path + ";", 0), 0u);

  EXPECT_EQ(CAdo::QuoteValue("plain value"), "plain value");
  EXPECT_EQ(CAdo::QuoteValue(" edge"), "{ edge}");
  EXPECT_EQ(CAdo::QuoteValue("a;b{c}"), "{a;b{c}}}");
}

}  // namespace
}  // namespace velmar::testing
