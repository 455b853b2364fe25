#include "engine/statements/db_statements.h"

#include <chrono>

#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "data/ado_connection.h"
#include "data/connection_table.h"
#include "data/mysql_connection.h"
#include "engine/executor.h"
#include "engine/keyword_table.h"
#include "engine/script_context.h"
#include "engine/statements/expansion.h"
#include "values/messages.h"
#include "values/text_file_ops.h"

namespace velmar {

namespace {

constexpr int32_t kDefaultMysqlPort = 3306;

std::string Expanded(ScriptContext& ctx, std::string text) {
  ExpandAndEvaluate(ctx, text);
  return text;
}

void SetStatus(ScriptContext& ctx, bool ok) {
  ctx.variables["status"] = ok ? "1" : "0";
}

// A failed open, query or command sets `status` to "0" for the script and
// says why on the host's diagnostics (standard error of the console
// programs), as a failed request does: a wrong password, an unknown table or
// a text the column cannot hold is otherwise invisible.
void SetStatusReporting(ScriptContext& ctx, bool ok, const CDBWrapper& connection,
                        const std::string& name, std::string why = {}) {
  SetStatus(ctx, ok);
  if (ok || !ctx.env->diagnostic || ctx.stop.requested()) return;
  if (why.empty()) why = connection.lastError();
  if (why.empty()) why = "failed";
  ctx.env->diagnostic(ctx.id, "database " + name + ": " + why);
}

// Tells the run's observer of one database statement: what was sent on
// which connection, how long it took, the rows and the error.
void ReportDatabase(ScriptContext& ctx, std::string_view name, std::string_view sql,
                    std::chrono::steady_clock::time_point start, bool ok,
                    const CDBWrapper& connection, int64_t rows) {
  DatabaseReport report;
  report.connection = name;
  report.sql = sql;
  report.rows = ok ? rows : -1;
  report.elapsedNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::steady_clock::now() - start)
                         .count();
  if (!ok) report.error = connection.lastError().empty() ? "failed" : connection.lastError();
  ctx.observer->DatabaseStatement(report);
}

bool EndsWithNoCase(const std::string& text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    char c = text[text.size() - suffix.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

std::string DriverName(ScriptContext& ctx, std::string_view key, std::string_view fallback) {
  std::string name = ctx.env->config.GetString(key);
  name = std::string(CodePage::Trim(name));
  return name.empty() ? std::string(fallback) : name;
}

// A relative database path is taken from the home folder, where the
// program's own files live.
std::string DatabasePath(ScriptContext& ctx, const std::string& scriptPath) {
  std::string path = NormalizePath(scriptPath, ctx.codePage());
  if (path.empty() || path.front() == '/' || ctx.env->home.empty()) return path;
  return (ctx.env->home / path).string();
}

std::string AccessConnectionText(ScriptContext& ctx, const std::string& scriptPath) {
  const std::string path = DatabasePath(ctx, scriptPath);
  if (EndsWithNoCase(path, ".mdb") || EndsWithNoCase(path, ".accdb")) {
    return "DRIVER=" + CAdo::DriverAttribute(DriverName(ctx, "odbcaccess", "MDBTools")) +
           ";DBQ=" + CAdo::QuoteValue(path);
  }
  // Any other file is a local SQLite database, created when missing.
  return "DRIVER=" + CAdo::DriverAttribute(DriverName(ctx, "odbcsqlite", "SQLite3")) +
         ";Database=" + CAdo::QuoteValue(path);
}

std::string MssqlConnectionText(ScriptContext& ctx, const std::string& server,
                                const std::string& catalog, const std::string& user,
                                const std::string& password) {
  // "host,port" is how SQL Server addresses name a port; the driver wants it
  // as its own attribute.
  std::string host = server;
  std::string port;
  const std::size_t comma = ctx.codePage().FindByte(server, ',');
  if (comma != std::string::npos) {
    host = std::string(CodePage::Trim(std::string_view(server).substr(0, comma)));
    port = std::string(CodePage::Trim(std::string_view(server).substr(comma + 1)));
  }
  std::string text = "DRIVER=" + CAdo::DriverAttribute(DriverName(ctx, "odbcmssql", "FreeTDS")) +
                     ";Server=" + CAdo::QuoteValue(host);
  if (!port.empty()) text += ";Port=" + CAdo::QuoteValue(port);
  text += ";Database=" + CAdo::QuoteValue(catalog) + ";UID=" + CAdo::QuoteValue(user) +
          ";PWD=" + CAdo::QuoteValue(password);
  return text;
}

enum class ConnectionKind { kAccess, kMssql, kMysql };

StatementResult OpenConnection(ScriptContext& ctx, ConnectionKind kind, const std::string& rawText) {
  const CodePage& cp = ctx.codePage();
  const FirstWordSplit split = splitFirstWord(rawText, "", cp);
  if (!split.found) {
    SetStatus(ctx, false);
    return StatementResult::Continue();
  }
  const std::string name = Expanded(ctx, split.head);
  std::unique_ptr<CDBWrapper> connection;
  // Drivers word a file in a missing folder as "unable to open"; the folder
  // is what the user has to mend.
  std::string missingFolder;
  // What the run's record shows of the open (its password is redacted there).
  std::string recorded;
  if (kind == ConnectionKind::kAccess) {
    const std::string file = Expanded(ctx, split.tail);
    if (ctx.observer) recorded = file;
    const std::filesystem::path folder =
        std::filesystem::path(DatabasePath(ctx, file)).parent_path();
    std::error_code ec;
    if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
      missingFolder = "the folder of the database file does not exist: " + folder.string();
    }
    connection = std::make_unique<CAdo>(AccessConnectionText(ctx, file), cp, &ctx.stop);
  } else {
    const std::vector<std::string> pieces = SplitText(split.tail, "<<<", cp);
    if (pieces.size() != 4) {
      const char* form = kind == ConnectionKind::kMssql ? msg::kOpenMssqlForm : msg::kOpenMysqlForm;
      ctx.RaiseError(rawText, msg::kOpenFormatPrefix + cp.ToUtf8(name) + form);
      SetStatus(ctx, false);
      return StatementResult::Error();
    }
    const std::string first = Expanded(ctx, pieces[0]);
    const std::string catalog = Expanded(ctx, pieces[1]);
    const std::string user = Expanded(ctx, pieces[2]);
    const std::string password = Expanded(ctx, pieces[3]);
    if (ctx.observer) recorded = first + "<<<" + catalog + "<<<" + user + "<<<" + password;
    if (kind == ConnectionKind::kMssql) {
      connection = std::make_unique<CAdo>(MssqlConnectionText(ctx, first, catalog, user, password),
                                          cp, &ctx.stop);
    } else {
      std::string host = first;
      int32_t port = kDefaultMysqlPort;
      const std::size_t colon = cp.FindByte(first, ':');
      if (colon != std::string::npos) {
        host = first.substr(0, colon);
        // Read like atoi: no digits give 0, which the client library takes
        // for its default port.
        const long long value = LeadingInteger(std::string_view(first).substr(colon + 1));
        port = value < std::numeric_limits<int32_t>::min()   ? std::numeric_limits<int32_t>::min()
               : value > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                             : static_cast<int32_t>(value);
      }
      connection =
          std::make_unique<CMysql>(host, user, password, catalog, port, cp.id(), &ctx.stop);
    }
  }
  // A connection of the same name is closed and replaced; one that fails to
  // open stays in the table with its error.
  CDBWrapper& stored = *(ctx.connections[name] = std::move(connection));
  const auto start = std::chrono::steady_clock::now();
  const bool opened = stored.Open();
  if (ctx.observer) {
    const char* keyword = kind == ConnectionKind::kAccess  ? "openaccess "
                          : kind == ConnectionKind::kMssql ? "openmssql "
                                                           : "openmysql ";
    ReportDatabase(ctx, name, keyword + recorded, start, opened, stored, 0);
  }
  SetStatusReporting(ctx, opened, stored, name, missingFolder);
  return StatementResult::Continue();
}

StatementResult CloseConnection(ScriptContext& ctx, const std::string& name) {
  if (name.empty()) return ctx.Fail("CLOSEDB", msg::kCloseDbNeedsName);
  const auto entry = ctx.connections.find(name);
  if (entry == ctx.connections.end()) return ctx.Fail("CLOSEDB " + name, msg::kCloseDbUnknown);
  if (entry->second->IsOpen()) entry->second->Close();
  ctx.connections.erase(entry);
  return StatementResult::Continue();
}

CDBWrapper* FindConnection(ScriptContext& ctx, const std::string& rawText,
                           const std::string& name) {
  const auto entry = ctx.connections.find(name);
  if (entry == ctx.connections.end()) {
    ctx.RaiseError(rawText, ctx.codePage().ToUtf8(name) + msg::kConnectionMissingSuffix);
    SetStatus(ctx, false);
    return nullptr;
  }
  return entry->second.get();
}

StatementResult RunQuery(ScriptContext& ctx, const std::string& rawText) {
  const CodePage& cp = ctx.codePage();
  const FirstWordSplit first = splitFirstWord(rawText, "", cp);
  if (!first.found) {
    ctx.RaiseError(rawText, msg::kFormatError);
    SetStatus(ctx, false);
    return StatementResult::Error();
  }
  const std::string name = Expanded(ctx, first.head);
  const FirstWordSplit second = splitFirstWord(first.tail, "", cp);
  if (!second.found) {
    ctx.RaiseError(rawText, msg::kFormatError);
    SetStatus(ctx, false);
    return StatementResult::Error();
  }
  const std::string resultName = Expanded(ctx, second.head);
  const std::string sql = Expanded(ctx, second.tail);
  // The old rows go even when the connection turns out to be unknown.
  ResultSet& rows = ctx.resultSets[resultName];
  rows.clear();
  rows.shrink_to_fit();
  CDBWrapper* connection = FindConnection(ctx, rawText, name);
  if (!connection) return StatementResult::Error();
  const auto start = std::chrono::steady_clock::now();
  const bool ok = connection->QueryRows(sql, rows);
  if (ctx.observer) {
    ReportDatabase(ctx, name, sql, start, ok, *connection, static_cast<int64_t>(rows.size()));
  }
  SetStatusReporting(ctx, ok, *connection, name);
  return StatementResult::Continue();
}

StatementResult RunExecute(ScriptContext& ctx, const std::string& rawText) {
  const FirstWordSplit split = splitFirstWord(rawText, "", ctx.codePage());
  if (!split.found) {
    ctx.RaiseError(rawText, msg::kFormatError);
    SetStatus(ctx, false);
    return StatementResult::Error();
  }
  const std::string name = Expanded(ctx, split.head);
  const std::string sql = Expanded(ctx, split.tail);
  CDBWrapper* connection = FindConnection(ctx, rawText, name);
  if (!connection) return StatementResult::Error();
  const auto start = std::chrono::steady_clock::now();
  const bool ok = connection->Execute(sql);
  if (ctx.observer) ReportDatabase(ctx, name, sql, start, ok, *connection, -1);
  SetStatusReporting(ctx, ok, *connection, name);
  return StatementResult::Continue();
}

}  // namespace

StatementResult ExecuteOpenAccess(ScriptContext& ctx, const std::string& rawText) {
  return OpenConnection(ctx, ConnectionKind::kAccess, rawText);
}

StatementResult ExecuteOpenMssql(ScriptContext& ctx, const std::string& rawText) {
  return OpenConnection(ctx, ConnectionKind::kMssql, rawText);
}

StatementResult ExecuteOpenMysql(ScriptContext& ctx, const std::string& rawText) {
  return OpenConnection(ctx, ConnectionKind::kMysql, rawText);
}

StatementResult ExecuteCloseDb(ScriptContext& ctx, const std::string& rawText) {
  return CloseConnection(ctx, rawText);
}

StatementResult ExecuteQuery(ScriptContext& ctx, const std::string& rawText) {
  return RunQuery(ctx, rawText);
}

StatementResult ExecuteExecute(ScriptContext& ctx, const std::string& rawText) {
  return RunExecute(ctx, rawText);
}

std::string ReadQueryCell(ScriptContext& ctx, std::string_view namePart) {
  const CodePage& cp = ctx.codePage();
  const FirstWordSplit parts = splitFirstWord(namePart, ".", cp);
  if (!parts.found || parts.head.empty()) {
    ctx.RaiseError(std::string(namePart), msg::kFormatError);
    return {};
  }
  const std::string selector = cp.Lower(CodePage::Trim(parts.tail));
  if (selector == "count") {
    return std::to_string(ctx.resultSets[parts.head].size());
  }
  const std::size_t dot = cp.FindByte(selector, '.');
  if (dot == std::string::npos) {
    ctx.RaiseError(std::string(namePart), msg::kFormatError);
    return {};
  }
  const long long row = LeadingInteger(std::string_view(selector).substr(0, dot));
  const long long column = LeadingInteger(std::string_view(selector).substr(dot + 1));
  const auto found = ctx.resultSets.find(parts.head);
  const std::size_t rows = found == ctx.resultSets.end() ? 0 : found->second.size();
  if (row < 0 || static_cast<unsigned long long>(row) >= rows) {
    ctx.RaiseError(std::string(namePart), msg::kQueryIndexOutOfRange);
    return {};
  }
  const ResultRow& cells = found->second[static_cast<std::size_t>(row)];
  if (column < 0 || static_cast<unsigned long long>(column) >= cells.size()) return {};
  return cells[static_cast<std::size_t>(column)];
}

}  // namespace velmar
