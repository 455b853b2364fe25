// CMysql and the database statements against a throwaway MariaDB server.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "data/connection_table.h"
#include "data/mysql_connection.h"
#include "engine/keyword_table.h"
#include "mariadb_server.h"
#include "support/script_fixture.h"

namespace velmar::testing {
namespace {

class MariaDbEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { MariaDbServer::Shared().Stop(); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new MariaDbEnvironment);

// Starts the shared server and gives the `openmysql` argument for database
// `db` (created in utf8mb4 when missing).
std::string Connect(const std::string& db) {
  MariaDbServer& server = MariaDbServer::Shared();
  std::string message;
  if (!server.Start(&message)) {
    ADD_FAILURE() << message;
    return {};
  }
  const ProcessResult created =
      server.Sql("create database if not exists " + db + " character set utf8mb4");
  EXPECT_EQ(created.exitCode, 0) << created.err;
  return server.address() + "<<<" + db + "<<<root<<<";
}

CMysql* MysqlOf(ScriptFixture& script, const std::string& name) {
  const auto entry = script.ctx->connections.find(name);
  return entry == script.ctx->connections.end() ? nullptr
                                                : dynamic_cast<CMysql*>(entry->second.get());
}

TEST(MysqlStatements, OpeningReadsPortsAndReportsBadArguments) {
  const std::string target = Connect("velmar_open");
  ScriptFixture script;
  script.Run(stmt::kOpenMysql, "db " + target);
  EXPECT_EQ(script.status(), "1");
  ASSERT_NE(MysqlOf(script, "db"), nullptr);
  EXPECT_TRUE(MysqlOf(script, "db")->IsOpen());
  EXPECT_EQ(MysqlOf(script, "db")->port(), MariaDbServer::Shared().port());

  script.Run(stmt::kOpenMysql, "plain 127.0.0.1<<<x<<<root<<<");
  ASSERT_NE(MysqlOf(script, "plain"), nullptr);
  EXPECT_EQ(MysqlOf(script, "plain")->port(), 3306);
  EXPECT_EQ(MysqlOf(script, "plain")->host(), "127.0.0.1");
  script.Run(stmt::kOpenMysql, "bare 127.0.0.1:<<<x<<<root<<<");
  ASSERT_NE(MysqlOf(script, "bare"), nullptr);
  EXPECT_EQ(MysqlOf(script, "bare")->port(), 0);

  // A refused login stays in the table, closed, with the server's message.
  script.Run(stmt::kOpenMysql,
             "denied " + MariaDbServer::Shared().address() + "<<<velmar_open<<<nobody<<<wrong");
  EXPECT_EQ(script.status(), "0");
  ASSERT_NE(MysqlOf(script, "denied"), nullptr);
  EXPECT_FALSE(MysqlOf(script, "denied")->IsOpen());
  EXPECT_EQ(MysqlOf(script, "denied")->failure().code, DbFailure::kDriver);
  EXPECT_NE(MysqlOf(script, "denied")->lastError().find("Access denied"), std::string::npos);
  EXPECT_TRUE(script.Alerts().empty());

  // Opening the same name again replaces the entry with a working one.
  script.Run(stmt::kOpenMysql, "db " + target);
  EXPECT_EQ(script.status(), "1");
  EXPECT_EQ(script.ctx->connections.count("db"), 1u);
  script.Run(stmt::kQuery, "db r select 1");
  EXPECT_EQ(script.status(), "1");

  // Without a separator nothing happens but the status.
  script.Run(stmt::kOpenMysql, "lonely");
  EXPECT_EQ(script.status(), "0");
  EXPECT_EQ(script.ctx->connections.count("lonely"), 0u);
  EXPECT_TRUE(script.Alerts().empty());

  script.ctx->executionStack.push_back(7);
  script.Run(stmt::kOpenMysql, "short 127.0.0.1<<<x<<<root");
  EXPECT_EQ(script.status(), "0");
  ASSERT_EQ(script.Alerts().size(), 1u);
  EXPECT_EQ(script.Alerts()[0],
            "出错：\"short 127.0.0.1<<<x<<<root\"\r\n原因：格式有误，请按short "
            "server:port<<<catlog<<<username<<<password修改．");
  EXPECT_TRUE(script.ctx->executionStack.empty());
  EXPECT_EQ(script.ctx->connections.count("short"), 0u);
}

TEST(MysqlStatements, QueriesKeepNullsBinaryAndReportFailures) {
  ScriptFixture script;
  script.Run(stmt::kOpenMysql, "db " + Connect("velmar_rows"));
  ASSERT_EQ(script.status(), "1");
  script.Run(stmt::kExecute, "db drop table if exists t");
  script.Run(stmt::kExecute,
             "db create table t (id int, name varchar(20), note text null, data blob null, "
             "big bigint)");
  EXPECT_EQ(script.status(), "1");
  script.Run(stmt::kExecute,
             "db insert into t values (1, 'one', null, X'0041004200', 9007199254740993), "
             "(2, '', 'two', null, -9007199254740993)");
  EXPECT_EQ(script.status(), "1");

  script.ctx->resultSets["r"] = {{"stale"}};
  script.Run(stmt::kQuery, "db r select id, name, note, data, big from t order by id");
  EXPECT_EQ(script.status(), "1");
  const ResultSet& rows = script.ctx->resultSets["r"];
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (ResultRow{"1", "one", "", std::string("\0A\0B\0", 5), "9007199254740993"}));
  EXPECT_EQ(rows[1], (ResultRow{"2", "", "two", "", "-9007199254740993"}));

  script.Run(stmt::kQuery, "db r select id from t where id > 5");
  EXPECT_EQ(script.status(), "1");
  EXPECT_TRUE(script.ctx->resultSets["r"].empty());

  // A statement with rows run through `execute` must not leave them pending.
  script.Run(stmt::kExecute, "db select * from t");
  EXPECT_EQ(script.status(), "1");
  script.Run(stmt::kQuery, "db r select count(*) from t");
  EXPECT_EQ(script.status(), "1");
  EXPECT_EQ(script.ctx->resultSets["r"], (ResultSet{{"2"}}));

  script.Run(stmt::kQuery, "db r selec id from t");
  EXPECT_EQ(script.status(), "0");
  EXPECT_EQ(script.ctx->connections["db"]->failure().code, DbFailure::kDriver);
  EXPECT_NE(script.ctx->connections["db"]->lastError().find("SQL syntax"), std::string::npos);
  script.Run(stmt::kExecute, "db insert into missing values (1)");
  EXPECT_EQ(script.status(), "0");
  EXPECT_NE(script.ctx->connections["db"]->lastError().find("missing"), std::string::npos);
  EXPECT_TRUE(script.Alerts().empty());

  // The statement builder on a real connection.
  CDBWrapper& db = *script.ctx->connections["db"];
  db.BeginInsert("t");
  db.AddField("id", "3");
  db.AddField("name", "'three'");
  EXPECT_TRUE(db.ExecuteBuilt());
  db.BeginUpdate("t", " where id = 3");
  db.AddField("note", "'built'");
  db.AddField("big", "7");
  EXPECT_TRUE(db.ExecuteBuilt());
  EXPECT_EQ(db.builtStatement(), "update t set note='built',big=7 where id = 3");
  std::string value;
  EXPECT_TRUE(db.QueryValue("select concat(name, '/', note, '/', big) from t where id = 3", value));
  EXPECT_EQ(value, "three/built/7");
  EXPECT_FALSE(db.QueryValue("select name from t where id = 99", value));
}

TEST(MysqlStatements, ChineseTextInBothCodePages) {
  const std::string target = Connect("velmar_text");
  ScriptFixture utf8;
  utf8.Run(stmt::kOpenMysql, "db " + target);
  ASSERT_EQ(utf8.status(), "1");
  utf8.Run(stmt::kExecute, "db drop table if exists words");
  utf8.Run(stmt::kExecute, "db create table words (id int, word varchar(20))");
  utf8.Run(stmt::kExecute, "db insert into words values (1, '中文测试')");
  EXPECT_EQ(utf8.status(), "1");

  ScriptFixture gbk(CodePage::kGbk);
  const CodePage& cp = CodePage::Get(CodePage::kGbk);
  gbk.Run(stmt::kOpenMysql, "db " + target);
  ASSERT_EQ(gbk.status(), "1");
  gbk.Run(stmt::kExecute, "db insert into words values (2, '" + cp.FromUtf8("数据库") + "')");
  EXPECT_EQ(gbk.status(), "1");
  gbk.Run(stmt::kQuery, "db r select word from words order by id");
  EXPECT_EQ(gbk.ctx->resultSets["r"],
            (ResultSet{{cp.FromUtf8("中文测试")}, {cp.FromUtf8("数据库")}}));
  // The server holds the characters themselves, not the GBK bytes.
  utf8.Run(stmt::kQuery, "db r select word, hex(word) from words order by id");
  EXPECT_EQ(utf8.ctx->resultSets["r"], (ResultSet{{"中文测试", "E4B8ADE69687E6B58BE8AF95"},
                                                  {"数据库", "E695B0E68DAEE5BA93"}}));
}

TEST(MysqlStatements, ClosedAndUnknownConnections) {
  ScriptFixture script;
  script.Run(stmt::kOpenMysql, "db " + Connect("velmar_close"));
  ASSERT_EQ(script.status(), "1");
  script.Run(stmt::kCloseDb, "db");
  EXPECT_TRUE(script.ctx->connections.empty());
  EXPECT_TRUE(script.Alerts().empty());

  script.ctx->resultSets["r"] = {{"old"}};
  script.ctx->executionStack.push_back(3);
  script.Run(stmt::kQuery, "db r select 1");
  EXPECT_EQ(script.status(), "0");
  EXPECT_TRUE(script.ctx->resultSets["r"].empty());
  EXPECT_TRUE(script.ctx->executionStack.empty());
  script.Run(stmt::kExecute, "db delete from t");
  EXPECT_EQ(script.status(), "0");
  script.Run(stmt::kCloseDb, "db");
  script.Run(stmt::kCloseDb, "");
  script.Run(stmt::kQuery, "db");
  script.Run(stmt::kQuery, "db r");
  script.Run(stmt::kExecute, "db");
  const std::vector<std::string> alerts = script.Alerts();
  ASSERT_EQ(alerts.size(), 7u);
  EXPECT_EQ(alerts[0], "出错：\"db r select 1\"\r\n原因：db 数据库连接不存在．");
  EXPECT_EQ(alerts[1], "出错：\"db delete from t\"\r\n原因：db 数据库连接不存在．");
  EXPECT_EQ(alerts[2], "出错：\"CLOSEDB db\"\r\n原因：该数据库连接不存在或已被删除．");
  EXPECT_EQ(alerts[3], "出错：\"CLOSEDB\"\r\n原因：格式有误，后面需接数据库连接名．");
  EXPECT_EQ(alerts[4], "出错：\"db\"\r\n原因：格式有误．");
  EXPECT_EQ(alerts[5], "出错：\"db r\"\r\n原因：格式有误．");
  EXPECT_EQ(alerts[6], "出错：\"db\"\r\n原因：格式有误．");
}

TEST(MysqlStatements, HundredThousandRows) {
  ScriptFixture script;
  script.Run(stmt::kOpenMysql, "db " + Connect("velmar_big"));
  ASSERT_EQ(script.status(), "1");
  script.Run(stmt::kExecute, "db set max_recursive_iterations = 200000");
  script.Run(stmt::kQuery,
             "db r with recursive s(n) as (select 1 union all select n + 1 from s where n < "
             "100000) select n, concat('row', n), null from s");
  EXPECT_EQ(script.status(), "1");
  const ResultSet& rows = script.ctx->resultSets["r"];
  ASSERT_EQ(rows.size(), 100000u);
  EXPECT_EQ(rows.front(), (ResultRow{"1", "row1", ""}));
  EXPECT_EQ(rows.back(), (ResultRow{"100000", "row100000", ""}));
  // A later query of the same name replaces the rows.
  script.Run(stmt::kQuery, "db r select 'x'");
  EXPECT_EQ(script.ctx->resultSets["r"], (ResultSet{{"x"}}));
}

TEST(MysqlFaults, ServerKilledThenRestarted) {
  ScriptFixture script;
  script.Run(stmt::kOpenMysql, "db " + Connect("velmar_fault"));
  ASSERT_EQ(script.status(), "1");
  script.Run(stmt::kQuery, "db r select 1");
  EXPECT_EQ(script.status(), "1");

  MariaDbServer::Shared().Kill();
  script.ctx->executionStack.push_back(1);
  script.Run(stmt::kQuery, "db r select 2");
  EXPECT_EQ(script.status(), "0");
  EXPECT_TRUE(script.ctx->resultSets["r"].empty());
  script.Run(stmt::kExecute, "db select 3");
  EXPECT_EQ(script.status(), "0");
  EXPECT_EQ(script.ctx->connections["db"]->failure().code, DbFailure::kDriver);
  EXPECT_FALSE(script.ctx->connections["db"]->lastError().empty());
  script.Run(stmt::kOpenMysql, "db " + MariaDbServer::Shared().address() + "<<<x<<<root<<<");
  EXPECT_EQ(script.status(), "0");
  // The script goes on: failures of the server are no alerts.
  EXPECT_TRUE(script.Alerts().empty());
  EXPECT_EQ(script.ctx->executionStack.size(), 1u);

  std::string message;
  ASSERT_TRUE(MariaDbServer::Shared().Start(&message)) << message;
  script.Run(stmt::kOpenMysql, "db " + Connect("velmar_fault"));
  EXPECT_EQ(script.status(), "1");
  script.Run(stmt::kQuery, "db r select 4");
  EXPECT_EQ(script.ctx->resultSets["r"], (ResultSet{{"4"}}));
}

TEST(MysqlFaults, StopRequestCutsALongQueryShort) {
  ScriptFixture script;
  script.Run(stmt::kOpenMysql, "db " + Connect("velmar_stop"));
  ASSERT_EQ(script.status(), "1");
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    script.ctx->stop.request();
  });
  // Left alone the query answers a row and status 1 after a minute.
  script.Run(stmt::kQuery, "db r select sleep(60)");
  stopper.join();
  EXPECT_EQ(script.status(), "0");
  EXPECT_TRUE(script.ctx->resultSets["r"].empty());
  // While the stop stands, nothing more goes to the server.
  script.Run(stmt::kQuery, "db r select 1");
  EXPECT_EQ(script.status(), "0");
  EXPECT_EQ(script.ctx->connections["db"]->failure().code, DbFailure::kStopped);
}

// A listener on loopback whose connections complete the TCP handshake and then
// hear nothing: the client waits for a server greeting that never comes. With
// `answersNothing` its accept queue is filled first, so that a new connection
// attempt gets no answer at all, like one to a host that drops packets.
class MuteListener {
 public:
  explicit MuteListener(bool answersNothing = false) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd_, answersNothing ? 0 : 16);
    socklen_t length = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &length);
    port_ = ntohs(addr.sin_port);
    for (int i = 0; answersNothing && i < 4; ++i) {
      const int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      connect(filler, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
      fillers_.push_back(filler);
    }
    if (answersNothing) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ~MuteListener() {
    Close();
    for (int filler : fillers_) close(filler);
  }
  int port() const { return port_; }
  // Resets the waiting connections, so a client that does not give up on its
  // own still ends (and its test fails instead of hanging).
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::vector<int> fillers_;
};

TEST(MysqlFaults, StopEndsAConnectToAServerThatDoesNotAnswer) {
  for (const bool answersNothing : {false, true}) {
    SCOPED_TRACE(answersNothing ? "no TCP answer" : "no greeting");
    MuteListener mute(answersNothing);
    ScriptFixture script;
    std::chrono::steady_clock::time_point stoppedAt;
    std::atomic<bool> done{false};
    std::thread stopper([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      stoppedAt = std::chrono::steady_clock::now();
      script.ctx->stop.request();
      for (int i = 0; i < 1000 && !done; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      mute.Close();
    });
    // Left alone the connect waits until its time-out.
    script.Run(stmt::kOpenMysql, "db 127.0.0.1:" + std::to_string(mute.port()) + "<<<x<<<root<<<");
    const auto ended = std::chrono::steady_clock::now();
    done = true;
    stopper.join();
    EXPECT_EQ(script.status(), "0");
    ASSERT_NE(MysqlOf(script, "db"), nullptr);
    EXPECT_FALSE(MysqlOf(script, "db")->IsOpen());
    const auto latency = std::chrono::duration_cast<std::chrono::milliseconds>(ended - stoppedAt);
    RecordProperty(answersNothing ? "stop_latency_ms_no_tcp_answer" : "stop_latency_ms_no_greeting",
                   static_cast<int>(latency.count()));
    EXPECT_LT(latency, std::chrono::seconds(5));
    EXPECT_GE(ended, stoppedAt);  // it was the stop that ended the wait
  }
}

TEST(MysqlFaults, ConnectToAServerThatNeverGreetsTimesOut) {
  MuteListener mute;
  CMysql db("127.0.0.1", "root", "", "", mute.port());
  std::atomic<bool> done{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 6000 && !done; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    mute.Close();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(db.Open());
  const auto waited = std::chrono::steady_clock::now() - start;
  done = true;
  watchdog.join();
  EXPECT_FALSE(db.IsOpen());
  EXPECT_GE(waited, std::chrono::seconds(CMysql::kConnectTimeoutSeconds - 1));
  EXPECT_LT(waited, std::chrono::seconds(CMysql::kConnectTimeoutSeconds * 3));
}

}  // namespace
}  // namespace velmar::testing
