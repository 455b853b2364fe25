#include "data/ado_connection.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dynamic_library.h"
#include "platform/stop_signal.h"
#include "values/code_page.h"

namespace velmar {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager must use UTF-16");

namespace {

// ADO's own default: a login that does not complete in 15 seconds fails.
constexpr SQLULEN kLoginTimeoutSeconds = 15;

bool Succeeded(SQLRETURN rc) {
  return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

const SQLWCHAR* Wide(const std::u16string& text) {
  return reinterpret_cast<const SQLWCHAR*>(text.c_str());
}

// How a column's values become text.
enum class ValueKind {
  kBit,
  kByte,
  kInteger,
  kUnsignedInteger,
  kNumber,
  kDate,
  kTime,
  kText,
  kBinary,
  kOther
};

ValueKind KindOf(SQLSMALLINT type, bool isUnsigned) {
  switch (type) {
    case SQL_BIT:
      return ValueKind::kBit;
    case SQL_TINYINT:
      return ValueKind::kByte;
    case SQL_SMALLINT:
    case SQL_INTEGER:
      return ValueKind::kInteger;
    case SQL_BIGINT:
      return isUnsigned ? ValueKind::kUnsignedInteger : ValueKind::kInteger;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return ValueKind::kNumber;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATE:
    case SQL_TIMESTAMP:
      return ValueKind::kDate;
    case SQL_TYPE_TIME:
    case SQL_TIME:
      return ValueKind::kTime;
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
      return ValueKind::kText;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return ValueKind::kBinary;
    default:
      return ValueKind::kOther;
  }
}

bool IsValidDate(const SQL_TIMESTAMP_STRUCT& t) {
  return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 && t.hour < 24 &&
         t.minute < 60 && t.second < 62;
}

std::string FormatDate(const SQL_TIMESTAMP_STRUCT& t) {
  if (!IsValidDate(t)) return "Invalid DateTime";
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02u:%02u:%02u", static_cast<int>(t.year),
                t.month, t.day, t.hour, t.minute, t.second);
  return text;
}

// SQLSTATE of the first diagnostic record, empty when there is none.
std::string FirstState(SQLSMALLINT handleType, SQLHANDLE handle) {
  SQLCHAR state[6] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  if (!Succeeded(SQLGetDiagRec(handleType, handle, 1, state, &native, nullptr, 0, &length))) {
    return {};
  }
  return std::string(reinterpret_cast<const char*>(state), 5);
}

}  // namespace

// One statement handle, released on every path; a stop request cancels the
// call it is blocked in.
class CAdo::Statement {
 public:
  explicit Statement(CAdo& owner) : owner_(owner) {
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_STMT, owner.connection_, &handle_))) {
      owner.KeepError(SQL_HANDLE_DBC, owner.connection_);
      handle_ = SQL_NULL_HSTMT;
      return;
    }
    if (owner.stop_) {
      SQLHSTMT handle = handle_;
      owner.stop_->SetAbortHook([handle] { SQLCancel(handle); });
    }
  }
  ~Statement() {
    if (owner_.stop_ && handle_) owner_.stop_->ClearAbortHook();
    if (handle_) SQLFreeHandle(SQL_HANDLE_STMT, handle_);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  SQLHSTMT handle() const { return handle_; }

  // The value of a column of the current row as text; false on a driver
  // failure (kept as the last error).
  bool ReadValue(SQLUSMALLINT column, ValueKind kind, std::string& out) {
    out.clear();
    SQLLEN indicator = 0;
    SQLRETURN rc;
    switch (kind) {
      case ValueKind::kBit: {
        unsigned char value = 0;
        rc = SQLGetData(handle_, column, SQL_C_BIT, &value, sizeof value, &indicator);
        if (!Check(rc)) return false;
        if (indicator != SQL_NULL_DATA) out = value ? "TRUE" : "FALSE";
        return true;
      }
      case ValueKind::kByte: {
        // Bytes read as unsigned whatever the column's sign.
        SQLINTEGER value = 0;
        rc = SQLGetData(handle_, column, SQL_C_SLONG, &value, sizeof value, &indicator);
        if (!Check(rc)) return false;
        if (indicator != SQL_NULL_DATA) out = std::to_string(value & 0xFF);
        return true;
      }
      case ValueKind::kInteger: {
        // Every integer in full, 64-bit ones included.
        SQLBIGINT value = 0;
        rc = SQLGetData(handle_, column, SQL_C_SBIGINT, &value, sizeof value, &indicator);
        if (!Check(rc)) return false;
        if (indicator != SQL_NULL_DATA) out = std::to_string(static_cast<long long>(value));
        return true;
      }
      case ValueKind::kUnsignedInteger: {
        SQLUBIGINT value = 0;
        rc = SQLGetData(handle_, column, SQL_C_UBIGINT, &value, sizeof value, &indicator);
        if (!Check(rc)) return false;
        if (indicator != SQL_NULL_DATA) {
          out = std::to_string(static_cast<unsigned long long>(value));
        }
        return true;
      }
      case ValueKind::kNumber: {
        double value = 0;
        rc = SQLGetData(handle_, column, SQL_C_DOUBLE, &value, sizeof value, &indicator);
        if (!Check(rc)) return false;
        if (indicator != SQL_NULL_DATA) {
          char text[400];
          std::snprintf(text, sizeof text, "%.2f", value);
          out = text;
        }
        return true;
      }
      case ValueKind::kDate: {
        SQL_TIMESTAMP_STRUCT value{};
        rc = SQLGetData(handle_, column, SQL_C_TYPE_TIMESTAMP, &value, sizeof value, &indicator);
        if (!Succeeded(rc) && IsBadDate()) {
          out = "Invalid DateTime";
          return true;
        }
        if (!Check(rc)) return false;
        if (indicator != SQL_NULL_DATA) out = FormatDate(value);
        return true;
      }
      case ValueKind::kTime: {
        // A time of day is a date on the day dates count from, as the
        // original date type stored it.
        SQL_TIME_STRUCT value{};
        rc = SQLGetData(handle_, column, SQL_C_TYPE_TIME, &value, sizeof value, &indicator);
        if (!Succeeded(rc) && IsBadDate()) {
          out = "Invalid DateTime";
          return true;
        }
        if (!Check(rc)) return false;
        if (indicator != SQL_NULL_DATA) {
          SQL_TIMESTAMP_STRUCT stamp{};
          stamp.year = 1899;
          stamp.month = 12;
          stamp.day = 30;
          stamp.hour = value.hour;
          stamp.minute = value.minute;
          stamp.second = value.second;
          out = FormatDate(stamp);
        }
        return true;
      }
      case ValueKind::kBinary: {
        unsigned char probe[16];
        rc = SQLGetData(handle_, column, SQL_C_BINARY, probe, sizeof probe, &indicator);
        if (!Check(rc)) return false;
        if (indicator != SQL_NULL_DATA) out = "[BLOB]";
        return true;
      }
      case ValueKind::kText:
        return ReadText(column, out);
      case ValueKind::kOther:
        if (!ReadText(column, out)) {
          // A type with no text form; the driver's complaint is no failure of
          // the query.
          out = "UN_KNOWN";
        }
        return true;
    }
    return true;
  }

 private:
  bool Check(SQLRETURN rc) {
    if (Succeeded(rc) || rc == SQL_NO_DATA) return true;
    owner_.KeepError(SQL_HANDLE_STMT, handle_);
    return false;
  }

  // Whether the last failure was the driver refusing a date it cannot read.
  bool IsBadDate() {
    const std::string state = FirstState(SQL_HANDLE_STMT, handle_);
    return state == "22007" || state == "22008" || state == "22018";
  }

  bool ReadText(SQLUSMALLINT column, std::string& out) {
    if (owner_.wide_) {
      std::u16string text;
      if (!ReadPieces<SQLWCHAR>(column, SQL_C_WCHAR, text)) return false;
      owner_.cp_.FromUtf16(text, out);
    } else {
      std::string text;
      if (!ReadPieces<SQLCHAR>(column, SQL_C_CHAR, text)) return false;
      out = owner_.cp_.FromUtf8(text);
    }
    return true;
  }

  // Reads a text value in pieces until the driver has given all of it.
  template <typename Unit, typename Text>
  bool ReadPieces(SQLUSMALLINT column, SQLSMALLINT cType, Text& text) {
    Unit chunk[4096];
    for (;;) {
      SQLLEN indicator = 0;
      const SQLRETURN rc = SQLGetData(handle_, column, cType, chunk, sizeof chunk, &indicator);
      if (rc == SQL_NO_DATA) break;
      if (!Succeeded(rc)) {
        owner_.KeepError(SQL_HANDLE_STMT, handle_);
        return false;
      }
      if (indicator == SQL_NULL_DATA) return true;
      // Each piece but the last fills the buffer up to its terminator.
      constexpr std::size_t kUnits = sizeof chunk / sizeof chunk[0] - 1;
      std::size_t units = kUnits;
      if (indicator != SQL_NO_TOTAL &&
          static_cast<std::size_t>(indicator) / sizeof(Unit) < kUnits) {
        units = static_cast<std::size_t>(indicator) / sizeof(Unit);
      }
      using Char = typename Text::value_type;
      text.append(reinterpret_cast<const Char*>(chunk), units);
      if (rc == SQL_SUCCESS) break;
      if (FirstState(SQL_HANDLE_STMT, handle_) != "01004") break;
    }
    return true;
  }

  CAdo& owner_;
  SQLHSTMT handle_ = SQL_NULL_HSTMT;
};

CAdo::CAdo(std::string connectionText, const CodePage& cp, StopSignal* stop)
    : cp_(cp), stop_(stop) {
  connectionText_ = std::move(connectionText);
  if (Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment_))) {
    SQLSetEnvAttr(environment_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                  0);
  } else {
    environment_ = nullptr;
  }
}

CAdo::~CAdo() {
  Close();
  if (environment_) SQLFreeHandle(SQL_HANDLE_ENV, environment_);
}

void CAdo::KeepError(short handleType, void* handle) {
  std::string message;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    std::string text;
    if (wide_) {
      SQLWCHAR state[6] = {};
      SQLWCHAR buffer[1024] = {};
      if (!Succeeded(SQLGetDiagRecW(handleType, handle, record, state, &native, buffer,
                                    sizeof buffer / sizeof buffer[0], &length))) {
        break;
      }
      std::size_t units = 0;
      while (units < sizeof buffer / sizeof buffer[0] - 1 && buffer[units]) ++units;
      text = cp_.FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(buffer), units));
    } else {
      SQLCHAR state[6] = {};
      SQLCHAR buffer[2048] = {};
      if (!Succeeded(SQLGetDiagRec(handleType, handle, record, state, &native, buffer,
                                   sizeof buffer, &length))) {
        break;
      }
      text = cp_.FromUtf8(reinterpret_cast<const char*>(buffer));
    }
    if (!message.empty()) message += '\n';
    message += text;
  }
  failure_.Set(DbFailure::kDriver, {std::move(message)});
}

SQLRETURN CAdo::ExecDirect(void* statement, const std::string& sql) {
  if (wide_) {
    const std::u16string text = cp_.ToUtf16(sql);
    return SQLExecDirectW(statement, const_cast<SQLWCHAR*>(Wide(text)),
                          static_cast<SQLINTEGER>(text.size()));
  }
  std::string text = cp_.ToUtf8(sql);
  return SQLExecDirect(statement, reinterpret_cast<SQLCHAR*>(text.data()),
                       static_cast<SQLINTEGER>(text.size()));
}

bool CAdo::Open() {
  if (connectionText_.empty()) return false;
  if (!environment_) {
    failure_.Set(DbFailure::kNoOdbcEnvironment);
    return false;
  }
  Close();
  if (!Succeeded(SQLAllocHandle(SQL_HANDLE_DBC, environment_, &connection_))) {
    KeepError(SQL_HANDLE_ENV, environment_);
    connection_ = nullptr;
    return false;
  }
  SQLSetConnectAttr(connection_, SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), 0);
  wide_ = DriverTakesWideText(connectionText_);
  SQLRETURN rc;
  if (wide_) {
    const std::u16string text = cp_.ToUtf16(connectionText_);
    rc = SQLDriverConnectW(connection_, nullptr, const_cast<SQLWCHAR*>(Wide(text)),
                           static_cast<SQLSMALLINT>(text.size()), nullptr, 0, nullptr,
                           SQL_DRIVER_NOPROMPT);
  } else {
    std::string text = cp_.ToUtf8(connectionText_);
    rc = SQLDriverConnect(connection_, nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                          static_cast<SQLSMALLINT>(text.size()), nullptr, 0, nullptr,
                          SQL_DRIVER_NOPROMPT);
  }
  if (!Succeeded(rc)) {
    KeepError(SQL_HANDLE_DBC, connection_);
    SQLFreeHandle(SQL_HANDLE_DBC, connection_);
    connection_ = nullptr;
    return false;
  }
  connected_ = true;
  return true;
}

void CAdo::Close() {
  if (!connection_) return;
  if (connected_) SQLDisconnect(connection_);
  SQLFreeHandle(SQL_HANDLE_DBC, connection_);
  connection_ = nullptr;
  connected_ = false;
}

bool CAdo::Run(Statement& statement, const std::string& sql) {
  if (!statement.handle()) return false;
  if (stop_ && stop_->requested()) {
    failure_.Set(DbFailure::kStopped);
    return false;
  }
  const SQLRETURN rc = ExecDirect(statement.handle(), sql);
  if (Succeeded(rc) || rc == SQL_NO_DATA) return true;
  KeepError(SQL_HANDLE_STMT, statement.handle());
  return false;
}

bool CAdo::SkipToRows(Statement& statement, short& columns) {
  // A batch may start with results that only count rows; the first result
  // with columns is the one a query means.
  for (;;) {
    SQLSMALLINT count = 0;
    if (!Succeeded(SQLNumResultCols(statement.handle(), &count))) {
      KeepError(SQL_HANDLE_STMT, statement.handle());
      return false;
    }
    if (count > 0) {
      columns = count;
      return true;
    }
    const SQLRETURN rc = SQLMoreResults(statement.handle());
    if (rc == SQL_NO_DATA) {
      columns = 0;
      return true;
    }
    if (!Succeeded(rc)) {
      KeepError(SQL_HANDLE_STMT, statement.handle());
      return false;
    }
  }
}

bool CAdo::QueryRows(const std::string& sql, ResultSet& rows) {
  rows.clear();
  if (!IsOpen()) {
    failure_.Set(DbFailure::kNotOpen);
    return false;
  }
  Statement statement(*this);
  short columns = 0;
  if (!Run(statement, sql) || !SkipToRows(statement, columns)) return false;
  if (columns == 0) return true;
  std::vector<ValueKind> kinds(static_cast<std::size_t>(columns));
  for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(columns); ++i) {
    SQLSMALLINT type = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT nullable = 0;
    SQLSMALLINT nameLength = 0;
    SQLDescribeColW(statement.handle(), i, nullptr, 0, &nameLength, &type, &size, &digits,
                    &nullable);
    SQLLEN isUnsigned = SQL_FALSE;
    SQLColAttributeW(statement.handle(), i, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned);
    kinds[i - 1] = KindOf(type, isUnsigned == SQL_TRUE);
  }
  for (;;) {
    const SQLRETURN rc = SQLFetch(statement.handle());
    if (rc == SQL_NO_DATA) break;
    if (!Succeeded(rc)) {
      KeepError(SQL_HANDLE_STMT, statement.handle());
      rows.clear();
      return false;
    }
    ResultRow& row = rows.emplace_back(kinds.size());
    for (std::size_t i = 0; i < kinds.size(); ++i) {
      if (!statement.ReadValue(static_cast<SQLUSMALLINT>(i + 1), kinds[i], row[i])) {
        rows.clear();
        return false;
      }
    }
  }
  return true;
}

bool CAdo::QueryValue(const std::string& sql, std::string& value) {
  if (!IsOpen()) {
    failure_.Set(DbFailure::kNotOpen);
    return false;
  }
  Statement statement(*this);
  short columns = 0;
  if (!Run(statement, sql) || !SkipToRows(statement, columns) || columns == 0) return false;
  SQLSMALLINT type = 0;
  SQLULEN size = 0;
  SQLSMALLINT digits = 0;
  SQLSMALLINT nullable = 0;
  SQLSMALLINT nameLength = 0;
  SQLDescribeColW(statement.handle(), 1, nullptr, 0, &nameLength, &type, &size, &digits, &nullable);
  SQLLEN isUnsigned = SQL_FALSE;
  SQLColAttributeW(statement.handle(), 1, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned);
  const SQLRETURN rc = SQLFetch(statement.handle());
  if (rc == SQL_NO_DATA) return false;
  if (!Succeeded(rc)) {
    KeepError(SQL_HANDLE_STMT, statement.handle());
    return false;
  }
  return statement.ReadValue(1, KindOf(type, isUnsigned == SQL_TRUE), value);
}

bool CAdo::Execute(const std::string& sql) {
  if (!IsOpen()) {
    failure_.Set(DbFailure::kNotOpen);
    return false;
  }
  Statement statement(*this);
  if (!Run(statement, sql)) return false;
  // Every result of a batch is passed, so that a failing later statement is
  // reported rather than lost.
  for (;;) {
    const SQLRETURN rc = SQLMoreResults(statement.handle());
    if (rc == SQL_NO_DATA) return true;
    if (!Succeeded(rc)) {
      KeepError(SQL_HANDLE_STMT, statement.handle());
      return false;
    }
  }
}

std::string CAdo::QuoteValue(std::string_view value) {
  const bool plain = value.find_first_of(";{}") == std::string_view::npos &&
                     (value.empty() || (value.front() != ' ' && value.back() != ' '));
  if (plain) return std::string(value);
  std::string quoted = "{";
  for (char c : value) {
    quoted += c;
    if (c == '}') quoted += '}';
  }
  quoted += '}';
  return quoted;
}

namespace {

// The library file of a driver the driver manager has registered, as its
// registration names it; empty when the name is not registered.
bool RegisteredDriver(const std::string& driverName, std::string& library) {
  SQLHENV environment = SQL_NULL_HENV;
  if (!Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment))) return false;
  SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  bool registered = false;
  SQLCHAR name[256];
  SQLCHAR attributes[2048];
  SQLSMALLINT nameLength = 0;
  SQLSMALLINT attributesLength = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (Succeeded(SQLDrivers(environment, direction, name, sizeof name, &nameLength, attributes,
                              sizeof attributes, &attributesLength))) {
    direction = SQL_FETCH_NEXT;
    if (reinterpret_cast<const char*>(name) != driverName) continue;
    registered = true;
    // Attributes come as "key=value" texts, each ended by a NUL.
    const char* at = reinterpret_cast<const char*>(attributes);
    const char* end = at + std::min<std::size_t>(attributesLength, sizeof attributes);
    while (at < end && *at) {
      const std::string pair(at);
      if (pair.rfind("Driver=", 0) == 0) library = pair.substr(7);
      at += pair.size() + 1;
    }
  }
  SQLFreeHandle(SQL_HANDLE_ENV, environment);
  return registered;
}

// A driver library file where the packages put them; empty when none is.
std::string FindDriverLibrary(const std::string& file) {
  static const char* const kFolders[] = {"/usr/lib/x86_64-linux-gnu/odbc",
                                         "/usr/lib/aarch64-linux-gnu/odbc",
                                         "/usr/lib/i386-linux-gnu/odbc",
                                         "/usr/lib/arm-linux-gnueabihf/odbc",
                                         "/usr/lib/odbc",
                                         "/usr/lib64",
                                         "/usr/local/lib",
                                         "/usr/lib"};
  for (const char* folder : kFolders) {
    const std::filesystem::path path = std::filesystem::path(folder) / file;
    std::error_code error;
    if (std::filesystem::exists(path, error)) return path.string();
  }
  return {};
}

std::string DefaultLibraryOf(const std::string& driverName) {
  if (driverName == "SQLite3") return "libsqlite3odbc.so";
  if (driverName == "FreeTDS") return "libtdsodbc.so";
  if (driverName == "MDBTools") return "libmdbodbc.so";
  return {};
}

}  // namespace

std::string CAdo::DriverAttribute(const std::string& driverName) {
  if (driverName.empty() || driverName.front() == '/') return driverName;
  std::string library;
  if (RegisteredDriver(driverName, library)) return "{" + driverName + "}";
  // Not registered (the package's registration step skipped or undone): name
  // the library the packages install instead.
  const std::string file = DefaultLibraryOf(driverName);
  if (!file.empty()) {
    std::string path = FindDriverLibrary(file);
    if (!path.empty()) return path;
  }
  return "{" + driverName + "}";
}

bool CAdo::DriverTakesWideText(const std::string& connectionText) {
  // The value of DRIVER=, without its braces.
  std::string driver;
  std::size_t at = 0;
  while (at < connectionText.size()) {
    const std::size_t end = connectionText.find(';', at);
    const std::string pair =
        connectionText.substr(at, end == std::string::npos ? std::string::npos : end - at);
    const std::size_t equals = pair.find('=');
    std::string key = pair.substr(0, equals);
    for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (equals != std::string::npos && key == "DRIVER") {
      driver = pair.substr(equals + 1);
      if (driver.size() >= 2 && driver.front() == '{' && driver.back() == '}') {
        driver = driver.substr(1, driver.size() - 2);
      }
      break;
    }
    if (end == std::string::npos) break;
    at = end + 1;
  }
  std::string library = driver;
  if (driver.empty() || driver.front() != '/') {
    library.clear();
    RegisteredDriver(driver, library);
    if (!library.empty() && library.front() != '/') {
      std::string path = FindDriverLibrary(library);
      if (!path.empty()) library = path;
    }
  }
  // Without a library to look at, the driver manager's own conversions are
  // the best there is.
  if (library.empty()) return true;

  static std::mutex mutex;
  static std::map<std::string, bool> known;
  std::lock_guard<std::mutex> lock(mutex);
  const auto found = known.find(library);
  if (found != known.end()) return found->second;
  // A driver without the wide entry points gets its texts from the driver
  // manager squeezed into a single-byte set; such drivers take UTF-8, so
  // texts go to them as UTF-8 directly.
  bool wide = true;
  if (void* handle = platform::OpenLibrary(library, platform::SymbolBinding::kLazy)) {
    wide = platform::FindSymbol(handle, "SQLDriverConnectW") != nullptr &&
           platform::FindSymbol(handle, "SQLExecDirectW") != nullptr;
    platform::CloseLibrary(handle);
  }
  known.emplace(library, wide);
  return wide;
}

}  // namespace velmar
