// Runs every tests/cases/*.case: the case's script (and Config.ini) in a
// fresh home folder with the real `velmar run`, a raw loopback server that
// answers each connection with the case's next reply and records the bytes
// of each request; then the output, the exit status, the requests and the
// files the case names must be exactly what it says.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <mutex>

#include "case_file.h"
#include "http/test_servers.h"
#include "support/test_support.h"

namespace velmar::testing {
namespace {

const std::filesystem::path kCaseFolder = std::filesystem::path(VELMAR_SOURCE_DIR) / "tests" / "cases";

std::vector<std::filesystem::path> CaseFiles() {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(kCaseFolder)) {
    if (entry.path().extension() == ".case") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The test's name: the file's name without `.case`, as gtest spells names.
std::string CaseName(const ::testing::TestParamInfo<std::filesystem::path>& info) {
  std::string name = info.param.stem().string();
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

class Case : public ::testing::TestWithParam<std::filesystem::path> {};

TEST_P(Case, Runs) {
  const ProcessResult probe = RunVelmar({"run"});
  if (probe.exitCode == 2 && probe.err.find("velmar run:") == std::string::npos)
    VELMAR_SKIP_WITHOUT("velmar run (" + probe.err + ")");
  TempDir home;
  std::mutex mutex;
  std::vector<std::string> replies;
  std::size_t connections = 0;
  RawServer server([&](int fd, const std::string&) {
    std::string reply;
    {
      std::lock_guard<std::mutex> lock(mutex);
      // Past the case's replies a connection is closed unanswered.
      const std::size_t n = connections++;
      if (n >= replies.size()) return;
      reply = replies[n];
    }
    SendAll(fd, reply);
  });
  std::string error;
  const std::optional<CaseFile> c =
      ReadCaseFile(GetParam(), {server.port(), home.path().string()}, error);
  ASSERT_TRUE(c) << error;
  {
    std::lock_guard<std::mutex> lock(mutex);
    replies = c->replies;
  }
  home.Write("Script/case.vlm", c->script);
  if (c->config) home.Write("Config.ini", *c->config);
  for (const auto& [path, contents] : c->given) home.Write(path, contents);

  std::vector<std::string> args = {"run", "--home", home.path().string()};
  args.insert(args.end(), c->arguments.begin(), c->arguments.end());
  args.push_back("case");
  const ProcessResult run = RunVelmar(args, c->input);
  SCOPED_TRACE(c->title);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.out, *c->output);
  EXPECT_EQ(run.exitCode, c->exitCode) << run.err;
  if (c->errors) {
    EXPECT_EQ(run.err, *c->errors);
  }
  if (!c->requests.empty()) {
    const std::vector<std::string> got = server.requests();
    EXPECT_EQ(got.size(), c->requests.size());
    for (std::size_t i = 0; i < std::min(got.size(), c->requests.size()); ++i) {
      EXPECT_EQ(got[i], c->requests[i]) << "request " << i + 1;
    }
  }
  for (const auto& [path, contents] : c->files) {
    const std::filesystem::path file = home.path() / path;
    EXPECT_TRUE(std::filesystem::is_regular_file(file)) << path;
    EXPECT_EQ(ReadFile(file), contents) << path;
  }
}

INSTANTIATE_TEST_SUITE_P(File, Case, ::testing::ValuesIn(CaseFiles()), CaseName);

}  // namespace
}  // namespace velmar::testing
