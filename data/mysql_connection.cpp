#include "data/mysql_connection.h"

#include <mysql.h>

#include <algorithm>
#include <chrono>
#include <mutex>

#include "platform/socket.h"
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
  if (mysql_) failure_.Set(DbFailure::kDriver, {mysql_error(mysql_)});
}

bool CMysql::Open() {
  // A fresh handle per attempt: a handle is not reusable after mysql_close
  // nor after a failed connect.
  Close();
  mysql_ = mysql_init(nullptr);
  if (!mysql_) {
    failure_.Set(DbFailure::kOutOfMemory);
    return false;
  }
  const char* database = database_.empty() ? nullptr : database_.c_str();
  // Host and port always mean TCP, as they did where scripts were first
  // written; the client library would otherwise take "localhost" for its
  // local socket and ignore the port.
  const unsigned int protocol = MYSQL_PROTOCOL_TCP;
  mysql_optionsv(mysql_, MYSQL_OPT_PROTOCOL, &protocol);
  if (!Connect(database)) {
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

// The connect runs step by step through the client library's non-blocking
// interface, so that the wait for the server (the TCP connect, the greeting,
// the login) gives way to a stop request within a poll slice and never lasts
// longer than the connect time-out, whatever the kernel's own time-outs are.
bool CMysql::Connect(const char* database) {
  const unsigned int timeout = kConnectTimeoutSeconds;
  mysql_optionsv(mysql_, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
  if (mysql_options(mysql_, MYSQL_OPT_NONBLOCK, nullptr) != 0) {
    return mysql_real_connect(mysql_, host_.c_str(), user_.c_str(), password_.c_str(), database,
                              static_cast<unsigned int>(port_), nullptr, 0) != nullptr;
  }
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(kConnectTimeoutSeconds);
  MYSQL* connected = nullptr;
  int wait =
      mysql_real_connect_start(&connected, mysql_, host_.c_str(), user_.c_str(), password_.c_str(),
                               database, static_cast<unsigned int>(port_), nullptr, 0);
  bool abandoned = false;
  while (wait != 0) {
    int happened = 0;
    if (abandoned) {
      // The socket is shut down (or the library is told its time is up), so
      // every further step fails at once; this only lets the library unwind.
      happened = wait;
    } else {
      auto limit = deadline;
      if (wait & MYSQL_WAIT_TIMEOUT) {
        limit = std::min(
            limit, Clock::now() + std::chrono::milliseconds(mysql_get_timeout_value_ms(mysql_)));
      }
      const auto fd = static_cast<platform::SocketHandle>(mysql_get_socket(mysql_));
      platform::SocketEvents wanted;
      wanted.read = (wait & MYSQL_WAIT_READ) != 0;
      wanted.write = (wait & MYSQL_WAIT_WRITE) != 0;
      wanted.urgent = (wait & MYSQL_WAIT_EXCEPT) != 0;
      while (true) {
        const bool stopped = stop_ && stop_->requested();
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(limit - Clock::now()).count();
        if (stopped || left <= 0) {
          if (stopped || Clock::now() >= deadline) abandoned = true;
          happened = MYSQL_WAIT_TIMEOUT;
          break;
        }
        // Short slices: a stop request is seen within 50 ms.
        platform::SocketEvents ready;
        if (platform::WaitForSocket(fd, wanted, static_cast<int>(std::min<long long>(left, 50)),
                                    ready) > 0) {
          if (ready.read) happened |= MYSQL_WAIT_READ;
          if (ready.write) happened |= MYSQL_WAIT_WRITE;
          if (ready.urgent) happened |= MYSQL_WAIT_EXCEPT;
          break;
        }
      }
      if (abandoned && !(wait & MYSQL_WAIT_TIMEOUT) && fd >= 0) {
        // A wait without a time-out of its own ends through the socket.
        platform::ShutdownSocket(fd);
        happened = wait & (MYSQL_WAIT_READ | MYSQL_WAIT_WRITE);
      }
    }
    wait = mysql_real_connect_cont(&connected, mysql_, happened);
  }
  if (abandoned && connected) {
    // The server answered in the very last step; the stop still wins.
    return false;
  }
  return connected != nullptr;
}

void CMysql::ArmStop() {
  if (!stop_ || !mysql_) return;
  const auto fd = static_cast<platform::SocketHandle>(mysql_get_socket(mysql_));
  if (fd < 0) return;
  // Shutting the socket down makes the blocked read fail at once; the
  // descriptor itself stays owned by the client library.
  stop_->SetAbortHook([fd] { platform::ShutdownSocket(fd); });
}

void CMysql::DisarmStop() {
  if (stop_) stop_->ClearAbortHook();
}

bool CMysql::RunQuery(const std::string& sql) {
  if (!mysql_ || !openFlag_) {
    failure_.Set(DbFailure::kMysqlNotOpen);
    return false;
  }
  if (stop_ && stop_->requested()) {
    failure_.Set(DbFailure::kStopped);
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
