#include "cli/regex_command.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>

#include "cli/help_command.h"
#include "platform/console_io.h"
#include "platform/stop_signal.h"
#include "platform/stop_signals.h"
#include "regex/huge_page_buffer.h"
#include "regex/named_regex.h"
#include "regex/reg_exp.h"
#include "values/code_page.h"

namespace velmar {
namespace {

int Usage() {
  std::fputs(
      "usage: velmar regex [--codepage 65001|936] [--] PATTERN [FILE]\n"
      "       velmar regex [--codepage 65001|936] --dump [--] PATTERN\n",
      stderr);
  return 2;
}

// The whole input of a descriptor in one buffer. A regular file is read with
// one read into a buffer of its size (a short read continues where it
// ended); a pipe or a terminal grows the buffer as data comes. A folder
// opens but fails its first read, and is reported like a missing file.
class InputText {
 public:
  bool ReadAll(platform::Descriptor fd) {
    std::size_t room = 1 << 16;
    if (const std::optional<uint64_t> size = platform::RegularFileSizeOf(fd); size && *size > 0) {
      // One more byte than the file holds, so that a file that has not grown
      // is known to be complete by the read that returns nothing.
      room = static_cast<std::size_t>(*size) + 1;
    }
    data_ = HugePageBuffer<char>(room);
    for (;;) {
      if (size_ == room) {
        HugePageBuffer<char> larger(room * 2);
        std::copy(data_.data(), data_.data() + size_, larger.data());
        data_ = std::move(larger);
        room *= 2;
      }
      const long n = platform::ReadSome(fd, data_.data() + size_, room - size_);
      if (n == 0) return true;
      if (n < 0) return false;
      size_ += static_cast<std::size_t>(n);
    }
  }
  std::string_view view() const { return {data_.data(), size_}; }

 private:
  HugePageBuffer<char> data_;
  std::size_t size_ = 0;
};

// Columns a terminal gives the first `units` UTF-16 units of a pattern: one
// per character, two for the wide characters of East Asian scripts.
std::size_t CaretColumn(std::u16string_view pattern, std::size_t units) {
  std::size_t column = 0;
  for (std::size_t i = 0; i < units && i < pattern.size(); ++i) {
    const char16_t u = pattern[i];
    if (u >= 0xDC00 && u <= 0xDFFF) continue;  // the second half of a pair
    column += (u >= 0x1100 && u <= 0x115F) || (u >= 0x2E80 && u <= 0xA4CF) ||
                      (u >= 0xAC00 && u <= 0xD7A3) || (u >= 0xF900 && u <= 0xFAFF) ||
                      (u >= 0xFE30 && u <= 0xFE4F) || (u >= 0xFF00 && u <= 0xFF60) ||
                      (u >= 0xFFE0 && u <= 0xFFE6)
                  ? 2
                  : 1;
  }
  return column;
}

// A pattern the compiler refuses matches nothing in a script; here the
// person testing it learns why, with a caret under the place.
bool ReportRefusedPattern(const CodePage& cp, const std::string& pattern) {
  const std::u16string wide = cp.ToUtf16(pattern);
  RegExpProgram program;
  const RegExpError error = Compile(program, std::u16string_view(wide));
  if (error == RegExpError::kNone) return false;
  std::fprintf(stderr, "velmar regex: %s at position %zu\n  %s\n  %s^\n", RegExpErrorReason(error),
               program.errorOffset, pattern.c_str(),
               std::string(CaretColumn(wide, program.errorOffset), ' ').c_str());
  return true;
}

}  // namespace

int RunRegexCommand(const std::vector<std::string>& args) {
  int codePage = CodePage::kUtf8;
  bool dump = false;
  std::vector<std::string> rest;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (optionsEnded) {
      rest.push_back(args[i]);
    } else if (args[i] == "--") {
      optionsEnded = true;
    } else if (args[i] == "--help" || args[i] == "-h") {
      return PrintCommandHelp("regex");
    } else if (args[i] == "--version") {
      return PrintVersion("velmar");
    } else if (args[i] == "--dump") {
      dump = true;
    } else if (args[i].size() > 2 && args[i].rfind("--", 0) == 0 && args[i] != "--codepage") {
      // A pattern that starts with "--" follows "--".
      std::fprintf(stderr, "velmar regex: unknown option: %s\n", args[i].c_str());
      return Usage();
    } else if (args[i] == "--codepage") {
      if (i + 1 >= args.size()) return Usage();
      const std::string& value = args[++i];
      if (value != "65001" && value != "936") {
        std::fprintf(stderr, "velmar regex: unknown code page %s (65001 or 936)\n", value.c_str());
        return 2;
      }
      codePage = std::stoi(value);
    } else {
      rest.push_back(args[i]);
    }
  }
  if (rest.empty() || rest.size() > 2) return Usage();
  if (ReportRefusedPattern(CodePage::Get(codePage), rest[0])) return 1;
  if (dump) {
    // The program the pattern compiles to; there is no text to search.
    if (rest.size() != 1) return Usage();
    const std::u16string wide = CodePage::Get(codePage).ToUtf16(rest[0]);
    RegExpProgram program;
    Compile(program, std::u16string_view(wide));
    const std::string text = DumpProgram(program);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }

  InputText input;
  if (rest.size() == 2) {
    const platform::Descriptor fd = platform::OpenForReading(rest[1]);
    const bool read = fd >= 0 && input.ReadAll(fd);
    if (fd >= 0) platform::CloseDescriptor(fd);
    if (!read) {
      std::fprintf(stderr, "velmar regex: cannot read %s\n", rest[1].c_str());
      return 1;
    }
  } else if (!input.ReadAll(platform::kStandardInput)) {
    std::fputs("velmar regex: cannot read the standard input\n", stderr);
    return 1;
  }

  // A pattern can backtrack for ages over a large text: SIGINT and SIGTERM
  // become a stop request that the matcher polls, taken by one thread with
  // a wait so that no handler runs in the middle of the match. Until here
  // they end the process as usual, which a blocking read needs.
  platform::StopSignals signals;
  StopSignal stop;
  std::atomic<int> caught{0};
  std::thread signalThread([&] {
    for (;;) {
      const int sig = signals.Wait();
      if (sig == 0) return;
      // A later signal only repeats the request under way.
      int none = 0;
      if (caught.compare_exchange_strong(none, sig)) stop.request();
    }
  });
  const std::string report = RegexTesterText(CodePage::Get(codePage), rest[0], input.view(), &stop);
  signals.Release(signalThread);
  signalThread.join();
  if (caught.load() != 0) {
    std::fputs("velmar regex: stopped before the search ended\n", stderr);
    return 128 + caught.load();
  }
  std::fwrite(report.data(), 1, report.size(), stdout);
  std::fputc('\n', stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace velmar
