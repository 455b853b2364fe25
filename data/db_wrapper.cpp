#include "data/db_wrapper.h"

namespace velmar {

bool CDBWrapper::QueryValue(const std::string&, std::string&) {
  return true;
}
bool CDBWrapper::QueryRows(const std::string&, ResultSet&) {
  return true;
}
bool CDBWrapper::Execute(const std::string&) {
  return true;
}

void CDBWrapper::BeginInsert(const std::string& table) {
  statement_ = "insert into " + table + "(";
  columnPart_.clear();
  valuePart_.clear();
  buildKind_ = BuildKind::kInsert;
}

void CDBWrapper::BeginUpdate(const std::string& table, const std::string& condition) {
  statement_ = "update " + table + " set ";
  columnPart_.clear();
  valuePart_ = condition;
  buildKind_ = BuildKind::kUpdate;
}

void CDBWrapper::AddField(const std::string& name, const std::string& value) {
  if (buildKind_ == BuildKind::kInsert) {
    if (!columnPart_.empty()) columnPart_ += ',';
    columnPart_ += name;
    if (!valuePart_.empty()) valuePart_ += ',';
    valuePart_ += value;
    return;
  }
  if (!columnPart_.empty()) columnPart_ += ',';
  columnPart_ += name;
  columnPart_ += '=';
  columnPart_ += value;
}

bool CDBWrapper::ExecuteBuilt() {
  if (buildKind_ == BuildKind::kInsert) {
    statement_ += columnPart_ + ") values(" + valuePart_ + ")";
  } else {
    statement_ += columnPart_ + valuePart_;
  }
  return Execute(statement_);
}

}  // namespace velmar
