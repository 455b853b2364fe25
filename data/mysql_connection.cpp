#include "data/mysql_connection.h"

#include <mysql.h>
#include <sys/socket.h>

#include <mutex>

#include "platform/stop_signal.h"

namespace velmar {

namespace {

// The client library sets up process-wide state on first use; doing it once
// up front keeps two scripts that connect at the same moment from racing.
void InitClientLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mysql_library_init(0, nullptr, nullptr); });
}

}  // namespace

CMysql::CMysql(std::string host, std::string user, std::string password, std::string database,
               int32_t port, int codePageId, StopSignal* stop)
    : port_(port),
      host_(std::move(host)),
      user_(std::move(user)),
      password_(std::move(password)),
      database_(std::move(database)),
      codePageId_(codePageId),
      stop_(stop) {
  InitClientLibrary();
}

CMysql::~CMysql() {
  Close();
}

void CMysql::Close() {
  // The handle is released even when connecting failed: the library keeps
  // allocations on it from mysql_init on.
  if (mysql_) mysql_close(mysql_);
  mysql_ = nullptr;
  openFlag_ = 0;
}

void CMysql::KeepError() {
  if (mysql_) lastError_ = mysql_error(mysql_);
}

bool CMysql::Open() {
  // A fresh handle per attempt: a handle is not reusable after mysql_close
  // nor after a failed connect.
  Close();
  mysql_ = mysql_init(nullptr);
  if (!mysql_) {
    lastError_ = "out of memory";
    return false;
  }
  const char* database = database_.empty() ? nullptr : database_.c_str();
  // Host and port always mean TCP, as they did where scripts were first
  // written; the client library would otherwise take "localhost" for its
  // local socket and ignore the port.
  const unsigned int protocol = MYSQL_PROTOCOL_TCP;
  mysql_optionsv(mysql_, MYSQL_OPT_PROTOCOL, &protocol);
  if (!mysql_real_connect(mysql_, host_.c_str(), user_.c_str(), password_.c_str(), database,
                          static_cast<unsigned int>(port_), nullptr, 0)) {
    KeepError();
    Close();
    return false;
  }
  openFlag_ = 1;
  // Texts travel in the script's code page both ways; the client library also
  // escapes by this character set. A server without the set keeps its own.
  mysql_set_character_set(mysql_, codePageId_ == 936 ? "gbk" : "utf8mb4");
  return true;
}

void CMysql::ArmStop() {
  if (!stop_ || !mysql_) return;
  const int fd = static_cast<int>(mysql_get_socket(mysql_));
  if (fd < 0) return;
  // Shutting the socket down makes the blocked read fail at once; the
  // descriptor itself stays owned by the client library.
  stop_->SetAbortHook([fd] { shutdown(fd, SHUT_RDWR); });
}

void CMysql::DisarmStop() {
  if (stop_) stop_->ClearAbortHook();
}

bool CMysql::RunQuery(const std::string& sql) {
  if (!mysql_ || !openFlag_) {
    lastError_ = "MySQL server connection is not open";
    return false;
  }
  if (stop_ && stop_->requested()) {
    lastError_ = "stopped";
    return false;
  }
  ArmStop();
  const bool ok = mysql_real_query(mysql_, sql.data(), sql.size()) == 0;
  DisarmStop();
  if (!ok) KeepError();
  return ok;
}

bool CMysql::Execute(const std::string& sql) {
  if (!RunQuery(sql)) return false;
  // A statement that yields rows anyway (or a batch) must be drained before
  // the connection takes the next command.
  bool ok = true;
  for (;;) {
    if (MYSQL_RES* result = mysql_store_result(mysql_))
      mysql_free_result(result);
    else if (mysql_field_count(mysql_) != 0)
      ok = false;
    const int next = mysql_next_result(mysql_);
    if (next > 0) ok = false;
    if (next != 0) break;
  }
  if (!ok) KeepError();
  return ok;
}

bool CMysql::QueryRows(const std::string& sql, ResultSet& rows) {
  rows.clear();
  if (!RunQuery(sql)) return false;
  MYSQL_RES* result = mysql_use_result(mysql_);
  if (!result) {
    // No result set is fine for a statement without rows, not for a failure.
    if (mysql_field_count(mysql_) == 0) return true;
    KeepError();
    return false;
  }
  const unsigned int columns = mysql_num_fields(result);
  ArmStop();
  while (MYSQL_ROW row = mysql_fetch_row(result)) {
    const unsigned long* lengths = mysql_fetch_lengths(result);
    ResultRow& out = rows.emplace_back();
    out.reserve(columns);
    for (unsigned int i = 0; i < columns; ++i) {
      // Lengths keep binary values whole, NUL bytes included; NULL is empty.
      if (row[i])
        out.emplace_back(row[i], lengths[i]);
      else
        out.emplace_back();
    }
  }
  DisarmStop();
  // mysql_fetch_row answers NULL both at the end and when the connection
  // broke; a cut-off result is a failure, not a shorter success.
  const bool ok = mysql_errno(mysql_) == 0;
  if (!ok) {
    KeepError();
    rows.clear();
  }
  mysql_free_result(result);
  return ok;
}

bool CMysql::QueryValue(const std::string& sql, std::string& value) {
  if (!RunQuery(sql)) return false;
  MYSQL_RES* result = mysql_use_result(mysql_);
  if (!result) {
    if (mysql_field_count(mysql_) != 0) KeepError();
    return false;
  }
  bool found = false;
  if (MYSQL_ROW row = mysql_fetch_row(result)) {
    const unsigned long* lengths = mysql_fetch_lengths(result);
    if (mysql_num_fields(result) > 0 && row[0])
      value.assign(row[0], lengths[0]);
    else
      value.clear();
    found = true;
  } else if (mysql_errno(mysql_) != 0) {
    KeepError();
  }
  // Freeing a result read with mysql_use_result reads the remaining rows.
  mysql_free_result(result);
  return found;
}

}  // namespace velmar
