#pragma once
// The abstract database connection shared by the MySQL/MariaDB client and the
// ODBC connections, with the small INSERT/UPDATE statement builder both use.

#include <cstdint>
#include <string>

#include "values/failure_texts.h"
#include "values/result_set_table.h"

namespace velmar {

class CDBWrapper {
 public:
  CDBWrapper() = default;
  virtual ~CDBWrapper() = default;
  CDBWrapper(const CDBWrapper&) = delete;
  CDBWrapper& operator=(const CDBWrapper&) = delete;

  virtual bool Open() { return true; }
  virtual bool IsOpen() { return true; }
  virtual void Close() {}
  // First column of the first row; false when the query failed or gave no row.
  virtual bool QueryValue(const std::string& sql, std::string& value);
  // Every row of the query, each column as text.
  virtual bool QueryRows(const std::string& sql, ResultSet& rows);
  // A statement that gives no rows.
  virtual bool Execute(const std::string& sql);

  // Statement builder: BeginInsert or BeginUpdate, then AddField per column,
  // then ExecuteBuilt. Names and values are taken as SQL text, unquoted.
  virtual void BeginInsert(const std::string& table);
  virtual void BeginUpdate(const std::string& table, const std::string& condition);
  virtual void AddField(const std::string& name, const std::string& value);
  virtual bool ExecuteBuilt();

  // The connection text handed to the driver (empty for MySQL).
  const std::string& connectionText() const { return connectionText_; }
  // Why the last failed operation failed (the driver's message is in the
  // script's code page), and its text.
  const DbError& failure() const { return failure_; }
  std::string lastError() const { return Describe(failure_); }
  // The statement the builder has assembled so far.
  const std::string& builtStatement() const { return statement_; }

 protected:
  std::string connectionText_;
  int32_t openFlag_ = 0;
  std::string statement_;
  std::string columnPart_;
  std::string valuePart_;
  DbError failure_;

 private:
  // Which statement the builder is assembling; kept apart from the statement
  // text so that a table whose name holds "insert" cannot confuse it.
  enum class BuildKind { kNone, kInsert, kUpdate };
  BuildKind buildKind_ = BuildKind::kNone;
};

}  // namespace velmar
