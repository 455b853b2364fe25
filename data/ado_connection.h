#pragma once
// A connection through ODBC: Access files (MDB Tools), local SQLite files and
// SQL Server (FreeTDS). Texts cross the driver as UTF-16 and are converted
// with the script's code page both ways.

#include <string>
#include <string_view>

#include "data/db_wrapper.h"

namespace velmar {

class CodePage;
class StopSignal;

class CAdo : public CDBWrapper {
 public:
  CAdo(std::string connectionText, const CodePage& cp, StopSignal* stop = nullptr);
  ~CAdo() override;

  bool Open() override;
  bool IsOpen() override { return connection_ != nullptr && connected_; }
  void Close() override;
  bool QueryValue(const std::string& sql, std::string& value) override;
  bool QueryRows(const std::string& sql, ResultSet& rows) override;
  bool Execute(const std::string& sql) override;

  // The DRIVER= part naming a driver: the registered name in braces when the
  // driver manager knows it, else the driver library's path when one of the
  // usual places holds it, else the name as given.
  static std::string DriverAttribute(const std::string& driverName);
  // A value for a connection string, braced when it holds ';', braces or
  // edge blanks.
  static std::string QuoteValue(std::string_view value);
  // Whether the driver a connection text names has the wide (UTF-16) entry
  // points; a driver without them is spoken to in UTF-8.
  static bool DriverTakesWideText(const std::string& connectionText);

 private:
  class Statement;
  friend class Statement;

  // Runs the SQL on a new statement handle; false with the last error kept.
  bool Run(Statement& statement, const std::string& sql);
  // Moves to the first result that has columns; false on a driver error.
  bool SkipToRows(Statement& statement, short& columns);
  // The driver's messages for a failed call on a handle, in the code page.
  void KeepError(short handleType, void* handle);
  // SQLExecDirect in the driver's kind of text.
  short ExecDirect(void* statement, const std::string& sql);

  const CodePage& cp_;
  StopSignal* stop_;
  void* environment_ = nullptr;
  void* connection_ = nullptr;
  bool connected_ = false;
  bool wide_ = true;
};

}  // namespace velmar
