#pragma once
// A connection to a MySQL or MariaDB server through the MariaDB client library.

#include <cstdint>
#include <string>

#include "data/db_wrapper.h"

struct st_mysql;

namespace velmar {

class StopSignal;

class CMysql : public CDBWrapper {
 public:
  // A server that does not answer (a host that drops packets, or one that
  // accepts and never greets) fails the connect after this many seconds, as
  // an ODBC login does.
  static constexpr unsigned int kConnectTimeoutSeconds = 15;

  // `codePageId` picks the client character set (gbk for 936, utf8mb4
  // otherwise) so that server texts arrive in the script's code page.
  // `stop`, when given, lets a stop request cut a blocking query short.
  CMysql(std::string host, std::string user, std::string password, std::string database,
         int32_t port, int codePageId = 65001, StopSignal* stop = nullptr);
  ~CMysql() override;

  bool Open() override;
  bool IsOpen() override { return openFlag_ != 0; }
  void Close() override;
  bool QueryValue(const std::string& sql, std::string& value) override;
  bool QueryRows(const std::string& sql, ResultSet& rows) override;
  bool Execute(const std::string& sql) override;

  int32_t port() const { return port_; }
  const std::string& host() const { return host_; }

 private:
  bool Connect(const char* database);
  bool RunQuery(const std::string& sql);
  void KeepError();
  void ArmStop();
  void DisarmStop();

  st_mysql* mysql_ = nullptr;
  int32_t port_;
  std::string host_;
  std::string user_;
  std::string password_;
  std::string database_;
  int codePageId_;
  StopSignal* stop_;
};

}  // namespace velmar
