// The trace writer and reader on their own: what reaches the file, what is
// kept out of it, where large values go, and how damaged files read.

#include "tooling/trace_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/stop_signal.h"
#include "platform/stream_file.h"
#include "support/small_disk.h"
#include "support/test_support.h"
#include "tooling/trace_reader.h"
#include "values/variable_table.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;

class TraceWriterTest : public ::testing::Test {
 protected:
  TraceOptions Options(bool secrets = false) {
    TraceOptions options;
    options.path = (dir.path() / "run.trace").string();
    options.keepSecrets = secrets;
    return options;
  }
  // Runs one statement at `line` around `events`.
  template <typename Events>
  void Statement(TraceWriter& writer, uint32_t line, Events events) {
    RunStatement s;
    s.index = line;
    s.file = "t.vlm";
    s.line = line;
    s.keyword = "get";
    writer.BeforeStatement(s, stop, vars);
    events();
    writer.AfterStatement(s, StatementOutcome{});
  }
  TraceFile Read() {
    TraceFile trace;
    std::string error;
    EXPECT_TRUE(ReadTraceFile((dir.path() / "run.trace").string(), trace, error)) << error;
    return trace;
  }

  TempDir dir;
  StopSignal stop;
  VariableTable vars;
};

constexpr std::string_view kRequest =
    "POST /login?token=t0k&page=2 HTTP/1.1\r\nHost: h\r\nCookie: sid=abc\r\n"
    "Authorization: Basic dXNlcjpwdw==\r\nContent-Type: application/x-www-form-urlencoded\r\n"
    "\r\nuser=ann&password=hunter2&x=1";
constexpr std::string_view kHead =
    "HTTP/1.1 200 OK\r\nSet-Cookie: sid=zq9x; Path=/\r\nContent-Type: text/plain\r\n\r\n";

void Exchange(TraceWriter& writer) {
  HttpExchangeReport x;
  x.method = "POST";
  x.url = "http://h/login?token=t0k&page=2";
  x.requestBytes = kRequest;
  x.responseHead = kHead;
  x.responseBody = "ok";
  x.responseBodySize = 2;
  x.status = 200;
  writer.HttpExchange(x);
  writer.CookieChanged(false, "h", "sid", "zq9x");
  DatabaseReport d;
  d.connection = "db";
  d.sql = "openmysql 127.0.0.1:3306<<<shop<<<ann<<<s3cret";
  writer.DatabaseStatement(d);
  HostRequestReport prompt;
  prompt.code = 4;
  prompt.text = "password?";
  prompt.answer = "typed-pw";
  prompt.secret = true;
  writer.HostRequest(prompt);
  writer.VariableWritten("password", "hunter2");
}

TEST_F(TraceWriterTest, SecretsAreRedactedWithTheirLengthUnlessKept) {
  {
    TraceWriter writer(Options());
    std::string reason;
    ASSERT_TRUE(writer.Open(reason)) << reason;
    Statement(writer, 3, [&] { Exchange(writer); });
  }
  const std::string text = ReadFile(dir.path() / "run.trace");
  for (const char* secret : {"abc", "dXNlcjpwdw", "hunter2", "t0k", "zq9x", "s3cret", "typed-pw"}) {
    EXPECT_EQ(text.find(secret), std::string::npos) << secret << " leaked into " << text;
  }
  const TraceFile trace = Read();
  const auto exchanges = trace.Exchanges();
  ASSERT_EQ(exchanges.size(), 1u);
  const std::string request = trace.TextOf(*exchanges[0], "request");
  EXPECT_NE(request.find("Cookie: [redacted] (7 bytes)\r\n"), std::string::npos) << request;
  EXPECT_NE(request.find("Authorization: [redacted] (18 bytes)\r\n"), std::string::npos);
  EXPECT_NE(request.find("user=ann&password=[redacted] (7 bytes)&x=1"), std::string::npos);
  EXPECT_NE(request.find("?token=[redacted] (3 bytes)&page=2 HTTP/1.1"), std::string::npos);
  EXPECT_NE(trace.TextOf(*exchanges[0], "responseHead").find("Set-Cookie: [redacted]"),
            std::string::npos);
  EXPECT_EQ((*exchanges[0])["at"], "t.vlm:3");

  // Asked for, the secrets stay, byte for byte.
  {
    TraceWriter writer(Options(true));
    std::string reason;
    ASSERT_TRUE(writer.Open(reason));
    Statement(writer, 3, [&] { Exchange(writer); });
  }
  const TraceFile kept = Read();
  EXPECT_TRUE(kept.header["secrets"].get<bool>());
  EXPECT_EQ(kept.TextOf(*kept.Exchanges()[0], "request"), kRequest);
  EXPECT_NE(ReadFile(dir.path() / "run.trace").find("typed-pw"), std::string::npos);
}

TEST_F(TraceWriterTest, TheFileIsItsOwnersOnlyAndAnUnwritablePathIsRefused) {
  const fs::path path = dir.path() / "run.trace";
  std::ofstream(path) << "old";
  fs::permissions(path, fs::perms(0644));
  {
    TraceWriter writer(Options());
    std::string reason;
    ASSERT_TRUE(writer.Open(reason));
  }
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(ReadFile(path).find("old"), std::string::npos);

  TraceOptions folder = Options();
  folder.path = dir.path().string();
  TraceWriter refused(folder);
  std::string reason;
  EXPECT_FALSE(refused.Open(reason));
  EXPECT_NE(reason.find(dir.path().string()), std::string::npos);
  EXPECT_FALSE(refused.recording());
  refused.HttpExchange(HttpExchangeReport{});  // records nothing, and does not fail
}

TEST_F(TraceWriterTest, LargeBodiesGoBesideTheTraceAndACutSaysHowMuch) {
  TraceOptions options = Options();
  options.inlineBodyLimit = 100;
  options.keptBodyLimit = 1000;
  const std::string medium(500, 'm');
  const std::string large(5000, 'L');
  {
    TraceWriter writer(options);
    std::string reason;
    ASSERT_TRUE(writer.Open(reason));
    for (const std::string* body : {&medium, &large}) {
      HttpExchangeReport x;
      x.method = "GET";
      x.url = "http://h/";
      x.requestBytes = "GET / HTTP/1.1\r\n\r\n";
      x.responseBody = *body;
      x.responseBodySize = body->size();
      writer.HttpExchange(x);
    }
  }
  const TraceFile trace = Read();
  const auto exchanges = trace.Exchanges();
  ASSERT_EQ(exchanges.size(), 2u);
  EXPECT_EQ(trace.TextOf(*exchanges[0], "response"), medium);
  EXPECT_FALSE(exchanges[0]->contains("responseCut"));
  EXPECT_EQ(trace.TextOf(*exchanges[1], "response"), large.substr(0, 1000));
  EXPECT_TRUE((*exchanges[1])["responseCut"].get<bool>());
  EXPECT_EQ((*exchanges[1])["responseSize"], 5000);
  EXPECT_EQ((*exchanges[1])["response"]["kept"], 1000);
  struct stat st;
  ASSERT_EQ(::stat((dir.path() / "run.trace.bodies").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

// A page fetched again and again is written once; a page that differs in
// its last byte only is a page of its own.
TEST_F(TraceWriterTest, ARepeatedBodyIsWrittenOnceAndReadBackEachTime) {
  const std::string page = std::string(3000, 'p') + "1";
  const std::string other = std::string(3000, 'p') + "2";
  const std::vector<std::string> bodies = {page, page, other, page, "short", "short"};
  {
    TraceWriter writer(Options());
    std::string reason;
    ASSERT_TRUE(writer.Open(reason));
    for (const std::string& body : bodies) {
      Statement(writer, 1, [&] {
        HttpExchangeReport x;
        x.method = "GET";
        x.url = "http://h/";
        x.responseBody = body;
        x.responseBodySize = body.size();
        writer.HttpExchange(x);
      });
    }
  }
  const std::string text = ReadFile(dir.path() / "run.trace");
  EXPECT_EQ(text.find(page), text.rfind(page)) << "the repeated body is written twice";
  EXPECT_NE(text.find(other), std::string::npos);
  const TraceFile trace = Read();
  const auto exchanges = trace.Exchanges();
  ASSERT_EQ(exchanges.size(), bodies.size());
  for (std::size_t i = 0; i < bodies.size(); ++i) {
    EXPECT_EQ(trace.TextOf(*exchanges[i], "response"), bodies[i]) << i;
    EXPECT_EQ((*exchanges[i])["responseSize"], bodies[i].size()) << i;
  }
}

TEST_F(TraceWriterTest, LongValuesAreWrittenOnceAndBytesOfOtherCodePagesKeptExactly) {
  const std::string page(4000, 'p');
  const std::string gbk = "\xc4\xe3\xba\xc3";  // not UTF-8
  {
    TraceWriter writer(Options());
    std::string reason;
    ASSERT_TRUE(writer.Open(reason));
    Statement(writer, 1, [&] {
      writer.VariableWritten("a", page);
      writer.VariableWritten("b", page);
      writer.VariableWritten("c", gbk);
    });
  }
  const std::string text = ReadFile(dir.path() / "run.trace");
  EXPECT_EQ(text.find(page), text.rfind(page)) << "the long value is written twice";
  const TraceFile trace = Read();
  std::vector<std::string> values;
  for (const auto& event : trace.events) {
    if (event["ev"] == "var") values.push_back(trace.TextOf(event, "value"));
  }
  EXPECT_EQ(values, (std::vector<std::string>{page, page, gbk}));
}

// The writer scans texts sixteen bytes at a time: every kind of byte, at
// every place in and across those steps and across its staging buffer,
// must read back exactly, as JSON text or (not UTF-8) as base64.
TEST_F(TraceWriterTest, TextsOfEveryKindOfByteReadBackExactly) {
  const std::vector<std::string> pieces = {"a",
                                           "xyz0123456789",
                                           "\"",
                                           "\\",
                                           "\n",
                                           "\r",
                                           "\t",
                                           std::string(1, '\0'),
                                           "\x01",
                                           "\x1f",
                                           "\x7f",
                                           " ",
                                           "\xc3\xa9",
                                           "\xe4\xbd\xa0",
                                           "\xf0\x9f\x98\x80"};
  const std::vector<std::string> broken = {"\xc3", "\xff", "\xed\xa0\x80", "\xc0\xaf"};
  std::mt19937 random(28);
  std::vector<std::string> values;
  for (int i = 0; i < 400; ++i) {
    std::string value;
    const std::size_t length = random() % (i < 300 ? 40 : 400);
    while (value.size() < length) value += pieces[random() % pieces.size()];
    // A fifth of them carry a byte that is no UTF-8 somewhere.
    if (i % 5 == 4) value.insert(random() % (value.size() + 1), broken[random() % broken.size()]);
    values.push_back(value);
  }
  // Bodies past the staging buffer, escapes falling on its edges.
  std::string body;
  while (body.size() < 40000)
    body += "<td class=\"n\">\t" + std::to_string(body.size()) + "</td>\n";
  {
    TraceWriter writer(Options());
    std::string reason;
    ASSERT_TRUE(writer.Open(reason));
    Statement(writer, 1, [&] {
      for (std::size_t i = 0; i < values.size(); ++i) {
        writer.VariableWritten("v" + std::to_string(i), values[i]);
      }
      HttpExchangeReport x;
      x.method = "GET";
      x.url = "http://h/";
      x.responseBody = body;
      x.responseBodySize = body.size();
      writer.HttpExchange(x);
    });
  }
  const TraceFile trace = Read();
  EXPECT_TRUE(trace.problems.empty());
  std::size_t next = 0;
  for (const auto& event : trace.events) {
    if (event["ev"] != "var") continue;
    ASSERT_LT(next, values.size());
    EXPECT_EQ(trace.TextOf(event, "value"), values[next]) << "value " << next;
    ++next;
  }
  EXPECT_EQ(next, values.size());
  ASSERT_EQ(trace.Exchanges().size(), 1u);
  EXPECT_EQ(trace.TextOf(*trace.Exchanges()[0], "response"), body);
}

// The trace file reserves room ahead of its end as it grows; a reader
// following it must still see only what was written, and the room goes back
// when the file is closed.
TEST_F(TraceWriterTest, AGrowingTraceFileHoldsExactlyWhatWasWritten) {
  const std::string path = (dir.path() / "grow.trace").string();
  platform::StreamFile file;
  std::string reason;
  ASSERT_TRUE(file.Open(path, reason)) << reason;
  std::string expected;
  struct stat st;
  for (int i = 0; i < 3000; ++i) {
    const std::string line = "{\"n\":" + std::to_string(i) + "," + std::string(990, 'x') + "}\n";
    ASSERT_TRUE(file.Write(line, reason)) << reason;
    expected += line;
    if (i % 500 == 0) {
      ASSERT_EQ(::stat(path.c_str(), &st), 0);
      EXPECT_EQ(static_cast<std::size_t>(st.st_size), expected.size()) << i;
    }
  }
  EXPECT_EQ(ReadFile(path), expected);
  file.Close();
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(static_cast<std::size_t>(st.st_size), expected.size());
  // Blocks of 512 bytes: no more than the file and one block of the file
  // system's over.
  EXPECT_LE(static_cast<uint64_t>(st.st_blocks) * 512, expected.size() + 64 * 1024);
}

TEST_F(TraceWriterTest, AFullDiskIsToldOnceAndTheRunGoesOn) {
  testing::SmallDisk disk(64 * 1024);
  if (!disk.mounted()) VELMAR_SKIP_WITHOUT("a tmpfs mount (root)");
  TraceOptions options = Options();
  options.path = (disk.path() / "run.trace").string();
  int complaints = 0;
  options.complain = [&](std::string_view) { ++complaints; };
  TraceWriter writer(options);
  std::string reason;
  ASSERT_TRUE(writer.Open(reason));
  disk.Fill();
  const std::string body(200 * 1024, 'x');
  for (int i = 0; i < 5; ++i) {
    Statement(writer, 1, [&] {
      HttpExchangeReport x;
      x.responseBody = std::string_view(body).substr(0, 60000);
      x.responseBodySize = x.responseBody.size();
      writer.HttpExchange(x);
    });
  }
  EXPECT_EQ(complaints, 1);
  EXPECT_FALSE(writer.recording());
}

// A trace as a killed run leaves it, one damaged in the middle, and files
// that are no trace.
TEST_F(TraceWriterTest, DamagedAndForeignFilesReadAsFarAsTheyCan) {
  const fs::path path = dir.path() / "run.trace";
  const std::string header = "{\"trace\":\"velmar\",\"version\":1,\"started\":\"x\"}\n";
  std::ofstream(path) << header << "{\"ev\":\"stmt\",\"t\":1,\"kw\":\"get\"}\n"
                      << "garbage\n"
                      << "{\"ev\":\"http\",\"t\":\"soon\",\"timing\":{\"dns\":null}}\n"
                      << "{\"ev\":\"stmt\",\"t\":2,\"kw\":\"show\"}\n"
                      << "{\"ev\":\"http\",\"t\":3,\"url\":\"http://h";
  TraceFile trace;
  std::string error;
  ASSERT_TRUE(ReadTraceFile(path.string(), trace, error));
  EXPECT_EQ(trace.events.size(), 2u);
  ASSERT_EQ(trace.problems.size(), 3u);
  EXPECT_NE(trace.problems[0].find("run.trace:3: not an event"), std::string::npos);
  // Valid JSON with a field of the wrong type is no event either.
  EXPECT_NE(trace.problems[1].find("run.trace:4: not an event (\"t\" is no whole number)"),
            std::string::npos)
      << trace.problems[1];
  EXPECT_NE(trace.problems[2].find("run.trace:6: the last line is cut short"), std::string::npos);

  std::ofstream(path, std::ios::trunc) << "GET / HTTP/1.1\r\n";
  EXPECT_FALSE(ReadTraceFile(path.string(), trace, error));
  EXPECT_NE(error.find("run.trace:1: not a velmar trace"), std::string::npos) << error;
  std::ofstream(path, std::ios::trunc) << "{\"trace\":\"velmar\",\"version\":7}\n";
  EXPECT_FALSE(ReadTraceFile(path.string(), trace, error));
  EXPECT_NE(error.find("version 7"), std::string::npos);
  std::ofstream(path, std::ios::trunc);
  EXPECT_FALSE(ReadTraceFile(path.string(), trace, error));
  EXPECT_FALSE(ReadTraceFile(dir.path().string(), trace, error));
  EXPECT_FALSE(ReadTraceFile((dir.path() / "missing").string(), trace, error));

  // A body reference may not lead out of the trace's folder.
  std::ofstream(path, std::ios::trunc)
      << header << "{\"ev\":\"http\",\"response\":{\"file\":\"../../etc/passwd\"}}\n";
  ASSERT_TRUE(ReadTraceFile(path.string(), trace, error));
  EXPECT_EQ(trace.TextOf(trace.events[0], "response"), "");
}

// A hot statement is written in full for its first runs, then counted; the
// variable it writes is given as it stands at the flush.
TEST_F(TraceWriterTest, AHotStatementIsCountedAfterItsFirstRuns) {
  TraceOptions options = Options();
  options.fullRuns = 10;
  {
    TraceWriter writer(options);
    std::string reason;
    ASSERT_TRUE(writer.Open(reason));
    RunStatement s;
    s.index = 4;
    s.file = "loop.vlm";
    s.line = 4;
    s.keyword = "var";
    s.text = "[#n] ([#n]+1)";
    for (int i = 1; i <= 25; ++i) {
      writer.BeforeStatement(s, stop, vars);
      vars.Set("n", std::to_string(i));
      StatementOutcome outcome;
      outcome.elapsedNs = writer.TimesStatement(s) ? 100 : -1;
      writer.VariableWritten("n", std::to_string(i));
      writer.AfterStatement(s, outcome);
    }
  }
  const TraceFile trace = Read();
  std::size_t full = 0;
  int64_t counted = 0;
  std::string last;
  for (const auto& event : trace.events) {
    if (event["ev"] == "stmt") ++full;
    if (event["ev"] == "runs") counted += event["count"].get<int64_t>();
    if (event["ev"] == "var") last = trace.TextOf(event, "value");
    EXPECT_EQ(event.value("at", ""), "loop.vlm:4");
  }
  EXPECT_EQ(full, 10u);
  EXPECT_EQ(counted, 15);
  EXPECT_EQ(last, "25");
}

}  // namespace
}  // namespace velmar
