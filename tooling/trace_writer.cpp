#include "tooling/trace_writer.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>

#include <unistd.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/durable_file.h"
#include "tooling/trace_redaction.h"
#include "values/variable_table.h"

namespace velmar {
namespace {

// Past this much buffered text the buffer goes to the file whatever the
// statement did, so a long run without I/O keeps a bounded loss on a crash.
constexpr std::size_t kFlushSize = 256 * 1024;
constexpr auto kFlushInterval = std::chrono::seconds(1);

// Length of the valid UTF-8 sequence at `p`, 0 when there is none.
std::size_t Utf8Sequence(const unsigned char* p, std::size_t left) {
  const unsigned char c = p[0];
  std::size_t n;
  uint32_t cp;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (left < n) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
      (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
    return 0;
  }
  return n;
}

// Appends `text` as a JSON string. With `utf8Only`, a text that is not valid
// UTF-8 leaves `out` as it was and answers false (the caller writes it as
// base64 instead). One pass: a body of a traced request is scanned once, sixteen
// plain bytes at a time where the processor can, and reaches `out` in a few large appends.
bool AppendJsonString(std::string& out, std::string_view text, bool utf8Only) {
  static constexpr char kHex[] = "0123456789abcdef";
  const std::size_t start = out.size();
  out.reserve(start + text.size() + text.size() / 8 + 2);
  // Escapes are built here and moved to `out` when the stage fills up; a
  // turn of the loop adds at most 15 plain bytes and one escape of 6.
  char stage[8192];
  constexpr std::size_t kRoom = sizeof stage - 32;
  std::size_t used = 0;
  stage[used++] = '"';
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    if (used >= kRoom) {
      out.append(stage, used);
      used = 0;
    }
#if defined(__SSE2__)
    if (i + 16 <= n) {
      // Sixteen at a time: a signed compare with ' ' catches the control
      // bytes and, as negatives, every byte of a multibyte sequence.
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      const __m128i care = _mm_or_si128(_mm_cmplt_epi8(v, _mm_set1_epi8(0x20)),
                                        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')),
                                                     _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))));
      const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(care));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(stage + used), v);
      const std::size_t plain = mask == 0 ? 16 : static_cast<std::size_t>(std::countr_zero(mask));
      used += plain;
      i += plain;
      if (plain == 16) continue;
    }
#endif
    const unsigned char c = p[i];
    if (c >= 0x80) {
      const std::size_t len = Utf8Sequence(p + i, n - i);
      if (len == 0) {
        if (utf8Only) {
          out.resize(start);
          return false;
        }
        stage[used++] = static_cast<char>(c);
        ++i;
        continue;
      }
      std::memcpy(stage + used, p + i, len);
      used += len;
      i += len;
      continue;
    }
    ++i;
    if (c >= 0x20 && c != '"' && c != '\\') {
      stage[used++] = static_cast<char>(c);
      continue;
    }
    stage[used++] = '\\';
    switch (c) {
      case '"':
        stage[used++] = '"';
        break;
      case '\\':
        stage[used++] = '\\';
        break;
      case '\n':
        stage[used++] = 'n';
        break;
      case '\r':
        stage[used++] = 'r';
        break;
      case '\t':
        stage[used++] = 't';
        break;
      default:
        stage[used++] = 'u';
        stage[used++] = '0';
        stage[used++] = '0';
        stage[used++] = kHex[c >> 4];
        stage[used++] = kHex[c & 15];
    }
  }
  stage[used++] = '"';
  out.append(stage, used);
  return true;
}

void AppendEscaped(std::string& out, std::string_view text) {
  AppendJsonString(out, text, false);
}

void AppendBase64(std::string& out, std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  out.push_back('"');
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out.push_back(kAlphabet[v >> 18]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(kAlphabet[(v >> 6) & 63]);
    out.push_back(kAlphabet[v & 63]);
  }
  if (i < bytes.size()) {
    uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out.push_back(kAlphabet[v >> 18]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
  out.push_back('"');
}

std::string UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(ms));
  return text;
}

}  // namespace

TraceWriter::TraceWriter(TraceOptions options) : options_(std::move(options)) {
  start_ = lastFlush_ = std::chrono::steady_clock::now();
}

TraceWriter::~TraceWriter() {
  Flush();
}

std::string TraceWriter::BodyFolderOf(const std::string& tracePath) {
  return tracePath + ".bodies";
}

bool TraceWriter::Open(std::string& reason) {
  if (!file_.Open(options_.path, reason)) {
    failed_ = true;
    return false;
  }
  buffer_.append("{\"trace\":\"velmar\",\"version\":");
  buffer_.append(std::to_string(kTraceFormatVersion));
  buffer_.append(",\"started\":");
  AppendEscaped(buffer_, UtcNow());
  buffer_.append(",\"pid\":");
  buffer_.append(std::to_string(::getpid()));
  buffer_.append(",\"secrets\":");
  buffer_.append(options_.keepSecrets ? "true" : "false");
  buffer_.append("}\n");
  Flush();
  return recording();
}

void TraceWriter::WriteCounted() {
  if (!recording()) return;
  const uint32_t keep = current_;
  for (const uint32_t s : counted_) {
    current_ = s;
    Begin("runs");
    Key("count");
    Number(static_cast<int64_t>(countedRuns_[s]));
    End();
    countedRuns_[s] = 0;
  }
  counted_.clear();
  for (const uint32_t s : dirty_) {
    varDirty_[s] = 0;
    const std::string* value = variables_ ? variables_->Find(varOf_[s]) : nullptr;
    if (!value) continue;
    current_ = s;
    Begin("var");
    Key("name");
    Text(varOf_[s]);
    if (!options_.keepSecrets && LooksSecretName(varOf_[s])) {
      Secret("value", *value);
    } else {
      SharedText("value", *value);
    }
    End();
  }
  dirty_.clear();
  current_ = keep;
}

void TraceWriter::Flush() {
  WriteCounted();
  lastFlush_ = std::chrono::steady_clock::now();
  ioSinceFlush_ = false;
  if (buffer_.empty()) return;
  if (!recording()) {
    buffer_.clear();
    return;
  }
  std::string reason;
  if (!file_.Write(buffer_, reason)) {
    failed_ = true;
    file_.Close();
    if (options_.complain) options_.complain("the trace is not recorded any more: " + reason);
  }
  buffer_.clear();
}

int64_t TraceWriter::Micros() const {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                               start_)
      .count();
}

void TraceWriter::Begin(std::string_view kind) {
  lineStart_ = buffer_.size();
  buffer_.append("{\"ev\":\"");
  buffer_.append(kind);
  buffer_.append("\",\"t\":");
  Number(Micros());
  if (current_ != kNoStatement) {
    buffer_.append(",\"s\":");
    Number(current_);
  }
}

void TraceWriter::End() {
  buffer_.append("}\n");
}

void TraceWriter::Key(std::string_view key) {
  buffer_.append(",\"");
  buffer_.append(key);
  buffer_.append("\":");
}

void TraceWriter::Text(std::string_view text) {
  if (AppendJsonString(buffer_, text, true)) return;
  // Bytes of another code page, or binary: kept exactly as base64.
  buffer_.append("{\"b64\":");
  AppendBase64(buffer_, text);
  buffer_.push_back('}');
}

void TraceWriter::Number(int64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  buffer_.append(digits, static_cast<std::size_t>(end - digits));
}

void TraceWriter::Secret(std::string_view key, std::string_view value) {
  Key(key);
  Text(options_.keepSecrets ? std::string(value) : RedactedMark(value.size()));
}

uint64_t TraceWriter::BlobLine(std::string_view text) {
  // Built aside and put before the line that refers to it; both strings
  // keep their room from one blob to the next.
  const uint64_t id = nextBlob_++;
  blobLine_.swap(buffer_);
  buffer_.clear();
  buffer_.append("{\"ev\":\"blob\",\"id\":");
  Number(static_cast<int64_t>(id));
  Key("size");
  Number(static_cast<int64_t>(text.size()));
  const std::string_view kept = text.substr(0, options_.keptValueLimit);
  if (kept.size() < text.size()) {
    Key("cut");
    buffer_.append("true");
  }
  Key("text");
  Text(kept);
  End();
  blobLine_.swap(buffer_);
  buffer_.insert(lineStart_, blobLine_);
  lineStart_ += blobLine_.size();
  return id;
}

void TraceWriter::Reference(std::string_view key, uint64_t id, std::size_t size) {
  Key(key);
  buffer_.append("{\"ref\":");
  Number(static_cast<int64_t>(id));
  buffer_.append(",\"size\":");
  Number(static_cast<int64_t>(size));
  buffer_.push_back('}');
}

void TraceWriter::SharedText(std::string_view key, std::string_view text) {
  if (text.size() <= options_.sharedValueThreshold) {
    Key(key);
    Text(text);
    return;
  }
  const std::size_t hash = std::hash<std::string_view>{}(text);
  for (auto [it, end] = blobs_.equal_range(hash); it != end; ++it) {
    if (it->second.second == text.size()) {
      Reference(key, it->second.first, text.size());
      return;
    }
  }
  const uint64_t id = BlobLine(text);
  blobs_.emplace(hash, std::make_pair(id, text.size()));
  Reference(key, id, text.size());
}

bool TraceWriter::RepeatedBody(std::string_view key, std::string_view bytes) {
  if (bytes.size() <= options_.sharedValueThreshold) return false;
  // Pages that differ mostly differ in size or early on, where the compare
  // stops.
  for (const KeptBody& body : recentBodies_) {
    if (body.bytes == bytes) {
      Reference(key, body.blob, bytes.size());
      return true;
    }
  }
  // A body seen for the first time is written as a blob all the same, so
  // that the next identical one can refer to it.
  const uint64_t id = BlobLine(bytes);
  Reference(key, id, bytes.size());
  if (recentBodies_.size() < kRecentBodies) recentBodies_.emplace_back();
  KeptBody& kept = recentBodies_[nextRecent_];
  nextRecent_ = (nextRecent_ + 1) % kRecentBodies;
  kept.blob = id;
  kept.bytes.assign(bytes);
  return true;
}

void TraceWriter::Body(std::string_view key, std::string_view bytes, uint64_t size) {
  Key(std::string(key) + "Size");
  Number(static_cast<int64_t>(size));
  if (bytes.size() <= options_.inlineBodyLimit) {
    if (!RepeatedBody(key, bytes)) {
      Key(key);
      Text(bytes);
    }
    if (bytes.size() < size) {
      Key(std::string(key) + "Cut");
      buffer_.append("true");
    }
    return;
  }
  const std::string folder = BodyFolderOf(options_.path);
  const std::string name = std::to_string(bodies_++) + ".body";
  const std::string_view kept = bytes.substr(0, options_.keptBodyLimit);
  bool written = false;
  if (bodyFolderMade_ || platform::CreatePrivateFolder(folder)) {
    bodyFolderMade_ = true;
    platform::StreamFile file;
    std::string reason;
    written = file.Open(folder + "/" + name, reason) && file.Write(kept, reason);
  }
  Key(key);
  if (written) {
    buffer_.append("{\"file\":");
    AppendEscaped(buffer_, std::filesystem::path(folder).filename().string() + "/" + name);
    buffer_.append(",\"kept\":");
    Number(static_cast<int64_t>(kept.size()));
    buffer_.push_back('}');
    if (kept.size() < size) {
      Key(std::string(key) + "Cut");
      buffer_.append("true");
    }
  } else {
    // No sidecar: the body is cut to the inline limit, and says so.
    Text(bytes.substr(0, options_.inlineBodyLimit));
    Key(std::string(key) + "Cut");
    buffer_.append("true");
  }
}

void TraceWriter::RunStarted(int32_t scriptId, std::string_view script) {
  if (!recording()) return;
  Begin("run");
  Key("script");
  Text(script);
  Key("id");
  Number(scriptId);
  End();
  Flush();
}

void TraceWriter::RunEnded(int32_t) {
  if (!recording()) return;
  current_ = kNoStatement;
  Begin("end");
  End();
  Flush();
}

void TraceWriter::BeforeStatement(const RunStatement& statement, StopSignal&,
                                  const VariableTable& variables) {
  current_ = statement.index;
  if (current_ < defined_.size() && defined_[current_]) return;
  if (!recording()) return;
  variables_ = &variables;
  if (current_ >= defined_.size()) {
    const std::size_t size = current_ + 1;
    defined_.resize(size, 0);
    fullRuns_.resize(size, 0);
    countedRuns_.resize(size, 0);
    varOf_.resize(size);
    varDirty_.resize(size, 0);
  }
  defined_[current_] = 1;
  // A statement is described once; its runs refer to it by number.
  buffer_.append("{\"ev\":\"def\",\"s\":");
  Number(current_);
  if (statement.line != 0) {
    std::string at(statement.file);
    at.push_back(':');
    at.append(std::to_string(statement.line));
    Key("at");
    Text(at);
  }
  Key("kw");
  Text(statement.keyword);
  if (!statement.text.empty()) {
    Key("text");
    StatementText(statement.keyword, statement.text);
  }
  End();
}

void TraceWriter::StatementText(std::string_view keyword, std::string_view text) {
  // Only the statements that can hand over a secret pay for looking.
  const bool handsOver = keyword == "header" || keyword == "setcookies" || keyword == "add" ||
                         keyword == "addx" || keyword == "openmysql" || keyword == "openmssql" ||
                         text.find('?') != std::string_view::npos;
  if (options_.keepSecrets || !handsOver) {
    Text(text);
  } else {
    Text(RedactStatementText(keyword, text));
  }
}

bool TraceWriter::TimesStatement(const RunStatement& statement) {
  return statement.index < fullRuns_.size() && fullRuns_[statement.index] < options_.fullRuns &&
         statement.keyword != "}";
}

void TraceWriter::AfterStatement(const RunStatement& statement, const StatementOutcome& outcome) {
  if (!recording()) return;
  const uint32_t s = statement.index;
  if (outcome.elapsedNs < 0 && !outcome.failed && s < countedRuns_.size()) {
    // A hot statement: counted, its line written at the next flush.
    if (statement.keyword != "}") {
      if (countedRuns_[s]++ == 0) counted_.push_back(s);
    }
    if (ioSinceFlush_ || buffer_.size() >= kFlushSize) {
      Flush();
    } else if (++sinceClock_ >= 4096) {
      sinceClock_ = 0;
      if (std::chrono::steady_clock::now() - lastFlush_ >= kFlushInterval) Flush();
    }
    return;
  }
  if (s < fullRuns_.size()) fullRuns_[s] += 1;
  const auto clock = std::chrono::steady_clock::now();
  // A block's end does nothing worth a line: the turn it closes shows in
  // the loop test or the statement after it.
  if (statement.keyword != "}" || outcome.failed) {
    const int64_t now =
        std::chrono::duration_cast<std::chrono::microseconds>(clock - start_).count();
    buffer_.append("{\"ev\":\"stmt\",\"t\":");
    Number(now - std::max<int64_t>(outcome.elapsedNs, 0) / 1000);
    buffer_.append(",\"s\":");
    Number(statement.index);
    buffer_.append(",\"ns\":");
    Number(outcome.elapsedNs);
    if (!outcome.argument.empty() && outcome.argument != statement.text) {
      Key("arg");
      StatementText(statement.keyword, outcome.argument);
    }
    if (outcome.failed) buffer_.append(",\"failed\":true");
    End();
  }
  if (ioSinceFlush_ || outcome.failed || buffer_.size() >= kFlushSize ||
      clock - lastFlush_ >= kFlushInterval) {
    Flush();
  }
}

void TraceWriter::ScriptError(std::string_view what, std::string_view reason) {
  if (!recording()) return;
  Begin("error");
  Key("what");
  Text(what);
  Key("reason");
  Text(reason);
  End();
  Flush();
}

void TraceWriter::Diagnostic(std::string_view text) {
  if (!recording()) return;
  Begin("diag");
  Key("text");
  Text(text);
  End();
  ioSinceFlush_ = true;
}

void TraceWriter::VariableWritten(std::string_view name, std::string_view value) {
  if (!recording()) return;
  if (current_ < fullRuns_.size() && fullRuns_[current_] >= options_.fullRuns) {
    // A counted run: the variable is written as it stands at the flush.
    if (!varDirty_[current_]) {
      if (varOf_[current_] != name) varOf_[current_].assign(name);
      varDirty_[current_] = 1;
      dirty_.push_back(current_);
    }
    return;
  }
  Begin("var");
  Key("name");
  Text(name);
  if (!options_.keepSecrets && LooksSecretName(name)) {
    Secret("value", value);
  } else {
    SharedText("value", value);
  }
  End();
}

void TraceWriter::HttpExchange(const HttpExchangeReport& x) {
  if (!recording()) return;
  ioSinceFlush_ = true;
  Begin("http");
  Key("n");
  Number(static_cast<int64_t>(exchanges_++));
  Key("method");
  Text(x.method);
  Key("url");
  Text(options_.keepSecrets ? std::string(x.url) : [&] {
    const std::size_t q = x.url.find('?');
    if (q == std::string_view::npos) return std::string(x.url);
    return std::string(x.url.substr(0, q + 1)) + RedactUrlEncoded(x.url.substr(q + 1));
  }());
  const std::string request =
      options_.keepSecrets ? std::string(x.requestBytes) : RedactRequest(x.requestBytes);
  Body("request", request, request.size());
  Key("status");
  Number(x.status);
  if (!x.responseHead.empty()) {
    Key("responseHead");
    Text(options_.keepSecrets ? std::string(x.responseHead) : RedactHead(x.responseHead));
  }
  Body("response", x.responseBody, x.responseBodySize);
  buffer_.append(",\"timing\":{\"dns\":");
  Number(x.resolvedUs);
  buffer_.append(",\"connect\":");
  Number(x.connectedUs);
  buffer_.append(",\"tls\":");
  Number(x.tlsDoneUs);
  buffer_.append(",\"firstByte\":");
  Number(x.firstByteUs);
  buffer_.append(",\"total\":");
  Number(x.totalUs);
  buffer_.push_back('}');
  if (!x.tlsVersion.empty()) {
    buffer_.append(",\"tls\":{\"version\":");
    Text(x.tlsVersion);
    Key("cipher");
    Text(x.tlsCipher);
    Key("subject");
    Text(x.peerSubject);
    Key("issuer");
    Text(x.peerIssuer);
    buffer_.push_back('}');
  }
  if (!x.remoteAddress.empty()) {
    Key("address");
    Text(x.remoteAddress);
  }
  if (!x.proxy.empty()) {
    Key("proxy");
    Text(x.proxy);
  }
  if (!x.failure.empty()) {
    Key("error");
    Text(x.failure);
  }
  End();
}

void TraceWriter::CookieChanged(bool shared, std::string_view domain, std::string_view name,
                                std::string_view value) {
  if (!recording()) return;
  Begin("cookie");
  Key("store");
  Text(shared ? "shared" : "script");
  Key("domain");
  Text(domain);
  Key("name");
  Text(name);
  if (value.empty()) {
    buffer_.append(",\"removed\":true");
  } else {
    Secret("value", value);
  }
  End();
}

void TraceWriter::PatternMatched(const PatternMatchReport& m) {
  if (!recording()) return;
  Begin("match");
  Key("name");
  Text(m.expression);
  Key("pattern");
  Text(m.pattern);
  Key("subjectVar");
  Text(m.subjectVariable);
  SharedText("subject", m.subject);
  buffer_.append(",\"matches\":[");
  for (std::size_t i = 0; i < m.matches.size(); ++i) {
    if (i) buffer_.push_back(',');
    buffer_.push_back('[');
    for (std::size_t k = 0; k < m.matches[i].size(); ++k) {
      if (k) buffer_.push_back(',');
      buffer_.push_back('[');
      Number(m.matches[i][k].first);
      buffer_.push_back(',');
      Number(m.matches[i][k].second);
      buffer_.push_back(']');
    }
    buffer_.push_back(']');
  }
  buffer_.push_back(']');
  End();
}

void TraceWriter::DatabaseStatement(const DatabaseReport& d) {
  if (!recording()) return;
  ioSinceFlush_ = true;
  Begin("db");
  Key("connection");
  Text(d.connection);
  Key("sql");
  // Only an open carries a password; a query's text is left as it was sent.
  const bool open = d.sql.rfind("open", 0) == 0;
  Text(options_.keepSecrets || !open ? std::string(d.sql) : RedactConnectionText(d.sql));
  Key("rows");
  Number(d.rows);
  Key("ns");
  Number(d.elapsedNs);
  if (!d.error.empty()) {
    Key("error");
    Text(d.error);
  }
  End();
}

void TraceWriter::JsEvaluated(const JsEvaluationReport& e) {
  if (!recording()) return;
  ioSinceFlush_ = true;
  Begin("js");
  if (!e.window.empty()) {
    Key("window");
    Text(e.window);
  }
  SharedText("source", e.code);
  if (e.failed) {
    buffer_.append(",\"failed\":true");
    if (!e.error.empty()) {
      Key("error");
      Text(e.error);
    }
  } else if (!options_.keepSecrets && ReadsSecret(e.code)) {
    // A value read back from a password field or a cookie.
    Secret("result", e.result);
  } else {
    SharedText("result", e.result);
  }
  Key("ns");
  Number(e.elapsedNs);
  End();
}

void TraceWriter::NativeCalled(std::string_view library, std::string_view function,
                               const std::vector<std::string_view>& arguments,
                               std::string_view result) {
  if (!recording()) return;
  ioSinceFlush_ = true;
  Begin("native");
  Key("library");
  Text(library);
  Key("function");
  Text(function);
  buffer_.append(",\"args\":[");
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (i) buffer_.push_back(',');
    Text(arguments[i]);
  }
  buffer_.push_back(']');
  // A text a library answered has no bound of its own: long ones go the way
  // of long values.
  SharedText("result", result);
  End();
}

void TraceWriter::WindowEventTaken(std::string_view window, std::string_view event,
                                   std::string_view value, bool handled) {
  if (!recording()) return;
  ioSinceFlush_ = true;
  Begin("window");
  Key("window");
  Text(window);
  Key("event");
  Text(event);
  Key("value");
  Text(value);
  buffer_.append(handled ? ",\"handled\":true" : ",\"handled\":false");
  End();
}

void TraceWriter::HostRequest(const HostRequestReport& r) {
  if (!recording()) return;
  ioSinceFlush_ = true;
  Begin("host");
  Key("code");
  Number(r.code);
  if (!r.text.empty()) SharedText("text", r.text);
  if (!r.answer.empty() || r.secret) {
    if (r.secret) {
      Secret("answer", r.answer);
    } else {
      SharedText("answer", r.answer);
    }
  }
  End();
}

}  // namespace velmar
