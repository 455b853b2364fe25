#pragma once
// Helpers shared by the tests: throwaway folders and running programs.

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace velmar::testing {

// True when the environment says CI=true: there every real part (servers,
// drivers, tools, the velmar binary) is installed, so a test that would
// skip for a missing part fails instead.
bool MissingPartsFail();
// Prints a skipped part where nobody can overlook it (standard error).
void AnnounceSkip(const std::string& part);

// A fresh folder under the system's temporary folder, removed on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // Writes a file below the folder (creating its folders) and returns its path.
  std::filesystem::path Write(const std::string& relative, const std::string& content) const;

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& path);

// A script from its lines, each ended with a line feed.
std::string Lines(std::initializer_list<const char*> lines);

struct ProcessResult {
  int exitCode = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
  bool timedOut = false;
};

// Runs a program with the given standard input, collecting its output; kills
// it after the time limit. `env` entries ("NAME=value") are added to the
// environment.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input = {},
                         int timeoutSeconds = 60, const std::vector<std::string>& env = {});

// Runs the velmar command with the given arguments.
ProcessResult RunVelmar(const std::vector<std::string>& args, const std::string& input = {},
                        int timeoutSeconds = 60, const std::vector<std::string>& env = {});

// A free TCP port on 127.0.0.1 (bound and released; good enough for tests).
int FreeLoopbackPort();

// Waits until something accepts connections on the loopback port; false when
// nothing did within the time.
bool WaitForPort(int port, int timeoutMs = 10000);

// The bytes the process's heap hands out now (0 where a sanitizer's
// allocator keeps its own count).
std::uint64_t HeapInUse();

}  // namespace velmar::testing

// Skips the test for a missing part on a developer's machine (loudly), and
// fails it in CI. Use only for parts a machine may lack (a server, a driver,
// a tool), never to hide a fault of the code under test.
#define VELMAR_SKIP_WITHOUT(part)                                                         \
  do {                                                                                    \
    const std::string velmarMissingPart_ = (part);                                        \
    if (::velmar::testing::MissingPartsFail()) {                                          \
      FAIL() << velmarMissingPart_ << " is missing; with CI=true every part is required"; \
    }                                                                                     \
    ::velmar::testing::AnnounceSkip(velmarMissingPart_);                                  \
    GTEST_SKIP() << velmarMissingPart_ << " is missing";                                  \
  } while (false)
