#pragma once
// The record of a run: an observer that writes what a script does as it
// happens, one JSON object per line (the format is the manual's chapter
// "Traces"). Written through a buffer that goes to the file after every
// statement that did I/O, after a script error, at least once a second and
// at the end, so a run that crashed or was killed leaves a trace that reads
// up to its last flush.
//
// Secrets (cookie and authorization headers, password-like form fields,
// database passwords, a password typed into a prompt) are written as
// "[redacted]" with their length unless `keepSecrets`. Bodies past the
// inline limit go to a folder beside the trace; a body cut at the kept limit
// says so, with its whole size.
//
// One writer records one script: the events of a run come on its worker
// thread and the writer does not lock.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/stream_file.h"
#include "values/run_observer.h"

namespace velmar {

inline constexpr int kTraceFormatVersion = 1;

struct TraceOptions {
  std::string path;
  bool keepSecrets = false;
  // Bodies up to this many bytes stay in the trace line itself.
  std::size_t inlineBodyLimit = 64 * 1024;
  // Of a larger body the sidecar file keeps this many bytes.
  std::size_t keptBodyLimit = 16 * 1024 * 1024;
  // Values of variables and pattern subjects longer than this are written
  // once, as a "blob" line, and referred to by number afterwards.
  std::size_t sharedValueThreshold = 512;
  // Of such a value this many bytes are kept.
  std::size_t keptValueLimit = 1024 * 1024;
  // Runs of one statement written in full; later runs are counted.
  uint32_t fullRuns = 1000;
  // Told once, in English, when the trace cannot be written (any more); the
  // run goes on without it.
  std::function<void(std::string_view reason)> complain;
};

class TraceWriter : public RunObserver {
 public:
  explicit TraceWriter(TraceOptions options);
  ~TraceWriter() override;
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;

  // Creates the file (mode 600) and writes its first line. False with the
  // reason when it cannot; the writer then records nothing.
  bool Open(std::string& reason);
  bool recording() const { return file_.open() && !failed_; }
  // The sidecar folder's path for a trace path.
  static std::string BodyFolderOf(const std::string& tracePath);

  void RunStarted(int32_t scriptId, std::string_view script) override;
  void RunEnded(int32_t scriptId) override;
  void BeforeStatement(const RunStatement& statement, StopSignal& stop,
                       const VariableTable& variables) override;
  void AfterStatement(const RunStatement& statement, const StatementOutcome& outcome) override;
  bool TimesStatement(const RunStatement& statement) override;
  void ScriptError(std::string_view what, std::string_view reason) override;
  void Diagnostic(std::string_view text) override;
  void VariableWritten(std::string_view name, std::string_view value) override;
  void HttpExchange(const HttpExchangeReport& exchange) override;
  void CookieChanged(bool shared, std::string_view domain, std::string_view name,
                     std::string_view value) override;
  void PatternMatched(const PatternMatchReport& match) override;
  void DatabaseStatement(const DatabaseReport& statement) override;
  void JsEvaluated(const JsEvaluationReport& evaluation) override;
  void NativeCalled(std::string_view library, std::string_view function,
                    const std::vector<std::string_view>& arguments,
                    std::string_view result) override;
  void HostRequest(const HostRequestReport& request) override;
  void WindowEventTaken(std::string_view window, std::string_view event, std::string_view value,
                        bool handled) override;

  // Writes what is buffered to the file.
  void Flush();

 private:
  // Starts an event line: {"ev":KIND,"t":MICROSECONDS,"at":"FILE:LINE".
  void Begin(std::string_view kind);
  void End();
  void Key(std::string_view key);
  void Text(std::string_view text);
  void Number(int64_t value);
  // A text written inline, or by reference when it is long and seen before.
  void SharedText(std::string_view key, std::string_view text);
  // A body inline or in the sidecar folder, with "<key>Size" beside it.
  void Body(std::string_view key, std::string_view bytes, uint64_t size);
  // Writes a "blob" line for `text` ahead of the line being built; its id.
  uint64_t BlobLine(std::string_view text);
  void Reference(std::string_view key, uint64_t blob, std::size_t size);
  // A body past the shared-value threshold as a reference to a blob: to the
  // one of an identical recent body, else to a new one. False for a short
  // body, written inline.
  bool RepeatedBody(std::string_view key, std::string_view bytes);
  void Secret(std::string_view key, std::string_view value);
  // A statement's text, its secrets redacted unless kept.
  void StatementText(std::string_view keyword, std::string_view text);
  int64_t Micros() const;

  TraceOptions options_;
  platform::StreamFile file_;
  bool failed_ = false;
  std::string buffer_;
  // Where the event line being built starts in the buffer.
  std::size_t lineStart_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastFlush_;
  bool ioSinceFlush_ = false;
  // Which statements have had their "def" line.
  std::vector<uint8_t> defined_;
  // Runs of each statement written in full; past kFullRuns they are only
  // counted, and written as "runs" lines (and the variables they wrote as
  // they stand) at each flush.
  std::vector<uint32_t> fullRuns_;
  std::vector<uint64_t> countedRuns_;
  std::vector<uint32_t> counted_;   // statements with counted runs not yet written
  std::vector<std::string> varOf_;  // the variable a counted statement writes
  std::vector<uint8_t> varDirty_;
  std::vector<uint32_t> dirty_;
  const VariableTable* variables_ = nullptr;
  uint32_t sinceClock_ = 0;
  void WriteCounted();
  static constexpr uint32_t kNoStatement = UINT32_MAX;
  uint32_t current_ = kNoStatement;
  uint64_t exchanges_ = 0;
  uint64_t bodies_ = 0;
  bool bodyFolderMade_ = false;
  // Long values already written: hash -> (blob number, size).
  std::unordered_multimap<std::size_t, std::pair<uint64_t, std::size_t>> blobs_;
  uint64_t nextBlob_ = 0;
  // The last bodies written as blobs, kept whole: a page fetched again and
  // again (a poll, a retry) is written once, and a body is only taken for
  // an earlier one when all of its bytes are the same.
  struct KeptBody {
    uint64_t blob = 0;
    std::string bytes;
  };
  static constexpr std::size_t kRecentBodies = 8;
  std::vector<KeptBody> recentBodies_;
  std::size_t nextRecent_ = 0;
  std::string blobLine_;
};

}  // namespace velmar
