// Whole scripts through `velmar run` against the throwaway MariaDB server and
// local SQLite files. The scripts leave their findings in the databases, so
// the checks read them back there.

#include <gtest/gtest.h>

#include "data/ado_connection.h"
#include "data/mysql_connection.h"
#include "mariadb_server.h"
#include "support/test_support.h"
#include "values/code_page.h"

namespace velmar::testing {
namespace {

// Runs a script file of a home folder; false when the program cannot run
// scripts (a usage error, or a bare version banner), which the caller turns
// into a skip on a developer's machine and a failure in CI.
bool RunScript(const TempDir& home, const std::string& name, const std::string& text,
               ProcessResult& result) {
  const std::filesystem::path script = home.Write("Script/" + name, text);
  result = RunVelmar({"run", script.string()}, {}, 120, {"VELMAR_HOME=" + home.path().string()});
  return !(result.exitCode == 2 || result.out == "velmar " VELMAR_VERSION "\n");
}

ResultSet ReadRows(CDBWrapper& db, const std::string& sql) {
  ResultSet rows;
  EXPECT_TRUE(db.Open()) << db.lastError();
  EXPECT_TRUE(db.QueryRows(sql, rows)) << db.lastError();
  return rows;
}

TEST(DatabaseScripts, QueriesAcrossMariaDbAndSqlite) {
  MariaDbServer& server = MariaDbServer::Shared();
  std::string message;
  ASSERT_TRUE(server.Start(&message)) << message;
  ASSERT_EQ(server
                .Sql("drop database if exists velmar_e2e; create database velmar_e2e "
                     "character set utf8mb4; create table velmar_e2e.log (k varchar(20), v "
                     "varchar(40))")
                .exitCode,
            0);
  TempDir home;
  const std::string lite = (home.path() / "e2e.db").string();
  const std::string script =
      "<main>\n"
      "openmysql db " +
      server.address() +
      "<<<velmar_e2e<<<root<<<\n"
      "execute db insert into log values ('open', '[#status]')\n"
      "execute db create table t (n int, s varchar(20))\n"
      "execute db insert into t values (1, '中文'), (2, null)\n"
      "query db r select n, s from t order by n\n"
      "execute db insert into log values ('count', '[%r.count]')\n"
      "execute db insert into log values ('cell', '[%r.0.1]')\n"
      "execute db insert into log values ('null', '[%r.1.1]')\n"
      "query db r selec broken\n"
      "execute db insert into log values ('syntax', '[#status]')\n"
      "execute db insert into log values ('emptied', '[%r.count]')\n"
      "openaccess lite " +
      lite +
      "\n"
      "execute lite create table x (b BOOLEAN, r REAL, d DATETIME)\n"
      "execute lite insert into x values (1, 1.5, '2009-03-01 08:05:09')\n"
      "query lite q select b, r, d from x\n"
      "execute db insert into log values ('lite', '[%q.0.0] [%q.0.1] [%q.0.2]')\n"
      "closedb lite\n"
      "execute db insert into log values ('end', 'done')\n"
      "query lite r select 1\n"
      "execute db insert into log values ('after', 'unreachable')\n";
  ProcessResult result;
  if (!RunScript(home, "db.vlm", script, result)) VELMAR_SKIP_WITHOUT("velmar run");
  EXPECT_NE((result.out + result.err).find("lite 数据库连接不存在．"), std::string::npos)
      << result.out << result.err;

  CMysql db("127.0.0.1", "root", "", "velmar_e2e", server.port());
  EXPECT_EQ(ReadRows(db, "select k, v from log"),
            (ResultSet{{"open", "1"},
                       {"count", "2"},
                       {"cell", "中文"},
                       {"null", ""},
                       {"syntax", "0"},
                       {"emptied", "0"},
                       {"lite", "TRUE 1.50 2009-03-01 08:05:09"},
                       {"end", "done"}}));
}

// A terminal user sees why each failure happened, not only status 0.
TEST(DatabaseScripts, FailuresSayWhyOnStandardError) {
  MariaDbServer& server = MariaDbServer::Shared();
  std::string message;
  ASSERT_TRUE(server.Start(&message)) << message;
  ASSERT_EQ(server
                .Sql("drop database if exists velmar_why; create database velmar_why "
                     "character set latin1; create table velmar_why.t (s varchar(4))")
                .exitCode,
            0);
  TempDir home;
  const std::string script = "openmysql bad " + server.address() +
                             "<<<velmar_why<<<nobody<<<wrong\n"
                             "openmysql db " +
                             server.address() +
                             "<<<velmar_why<<<root<<<\n"
                             "query db r select * from missing_table\n"
                             "execute db set sql_mode='STRICT_ALL_TABLES'\n"
                             "execute db insert into t values ('中文')\n"
                             "show [#status]\n";
  ProcessResult result;
  if (!RunScript(home, "why.vlm", script, result)) VELMAR_SKIP_WITHOUT("velmar run");
  EXPECT_EQ(result.out, "show: 0\nstate: exit\n") << result.err;
  for (const char* why : {"velmar run: database bad: Access denied for user 'nobody'",
                          "velmar run: database db: Table 'velmar_why.missing_table' doesn't exist",
                          "velmar run: database db: Incorrect string value"}) {
    EXPECT_NE(result.err.find(why), std::string::npos) << why << "\n" << result.err;
  }
}

TEST(DatabaseScripts, ServerGoneMidScriptThenBack) {
  MariaDbServer& server = MariaDbServer::Shared();
  std::string message;
  ASSERT_TRUE(server.Start(&message)) << message;
  ASSERT_EQ(server.Sql("create database if not exists velmar_gone").exitCode, 0);
  TempDir home;
  const std::string lite = (home.path() / "log.db").string();
  // The server is shut down by the script itself, between two statements.
  // The shutdown command returns before the server has closed its
  // connections, so the script waits for it to be gone.
  const std::string script =
      "<main>\n"
      "openaccess log " +
      lite +
      "\n"
      "execute log create table log (k TEXT, v TEXT)\n"
      "openmysql db " +
      server.address() +
      "<<<velmar_gone<<<root<<<\n"
      "query db r select 'alive'\n"
      "execute log insert into log values ('before', '[#status] [%r.0.0]')\n"
      "execute db shutdown\n"
      "pause 3000\n"
      "query db r select 1\n"
      "execute log insert into log values ('query', '[#status] [%r.count]')\n"
      "execute db select 1\n"
      "execute log insert into log values ('execute', '[#status]')\n"
      "openmysql db " +
      server.address() +
      "<<<velmar_gone<<<root<<<\n"
      "execute log insert into log values ('reopen', '[#status]')\n";
  ProcessResult result;
  if (!RunScript(home, "gone.vlm", script, result)) VELMAR_SKIP_WITHOUT("velmar run");
  // Bring the server back for the other tests.
  server.Kill();
  ASSERT_TRUE(server.Start(&message)) << message;

  CAdo log("DRIVER=" + CAdo::DriverAttribute("SQLite3") + ";Database=" + lite,
           CodePage::Get(CodePage::kUtf8));
  EXPECT_EQ(
      ReadRows(log, "select k, v from log"),
      (ResultSet{{"before", "1 alive"}, {"query", "0 0"}, {"execute", "0"}, {"reopen", "0"}}));
}

}  // namespace
}  // namespace velmar::testing
