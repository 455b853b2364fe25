// libFuzzer target: compiles the input's pattern and matches it against the
// input's text, through the engine directly (UTF-16 units) and through named
// expressions in both code pages. Any crash, sanitizer report, match outside
// the text or hang is a failure.
//
// Input: byte 0 picks the way in, byte 1 the pattern length, then the
// pattern, then the text.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/stop_signal.h"
#include "regex/named_regex.h"
#include "regex/reg_exp.h"
#include "values/code_page.h"

namespace {

using Clock = std::chrono::steady_clock;

velmar::StopSignal& Stop() {
  static velmar::StopSignal stop;
  return stop;
}
std::atomic<int64_t> busySince{0};

// Patterns with exponential backtracking are legal; the stop request that
// scripts rely on ends them, as it would a script's.
void Watchdog() {
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int64_t since = busySince.load();
    const int64_t now = Clock::now().time_since_epoch().count();
    if (since != 0 &&
        now - since > std::chrono::nanoseconds(std::chrono::milliseconds(300)).count()) {
      Stop().request();
    }
  }
}

std::u16string Units(const uint8_t* data, size_t size) {
  std::u16string out;
  for (size_t i = 0; i + 1 < size; i += 2)
    out.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  return out;
}

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

void Engine(const std::u16string& pattern, const std::u16string& text) {
  velmar::RegExpProgram program;
  const int code = static_cast<int>(velmar::Compile(program, std::u16string_view(pattern)));
  Check(code >= 0 && code <= 9);
  if (code != 0) return;
  velmar::RegExpMatch m;
  m.stop = &Stop();
  m.stackLimit = std::size_t{1} << 20;
  std::size_t from = 0;
  for (int rounds = 0; rounds < 64 && from <= text.size(); ++rounds) {
    std::size_t end = 0;
    if (!velmar::Match(program, m, text, &end, from)) {
      Check(end <= text.size());
      return;
    }
    Check(m.matchStart >= static_cast<int32_t>(from) && m.matchStart <= m.matchEnd &&
          static_cast<std::size_t>(m.matchEnd) <= text.size());
    for (int g = 0; g < program.groupCount; ++g) {
      const std::u16string_view group = m.Group(text, g);
      Check(group.empty() || (group.data() >= text.data() &&
                              group.data() + group.size() <= text.data() + text.size()));
    }
    from = m.matchEnd == m.matchStart ? m.matchEnd + 1 : m.matchEnd;
  }
}

void Named(const velmar::CodePage& cp, const std::string& pattern, const std::string& text) {
  auto regex = velmar::CreateNamedRegex(cp, pattern);
  const int n = velmar::MatchAll(*regex, cp, text, &Stop());
  Check(n == static_cast<int>(regex->results.size()));
  Check(regex->groupCount == 0 || n % regex->groupCount == 0);
  // A replacement that holds its match text doubles it with every match up
  // to the size limit, which is slow but bounded: a short text keeps it fast.
  velmar::RegexReplace(*regex, cp, text.substr(0, 16), "<$1>", &Stop());
  // The tester has no stop request: keep its text short.
  velmar::RegexTesterText(cp, pattern, text.substr(0, 8));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::thread(Watchdog).detach();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int way = data[0] % 3;
  const size_t patternLength = data[1] < size - 2 ? data[1] : size - 2;
  const uint8_t* pattern = data + 2;
  const uint8_t* text = pattern + patternLength;
  const size_t textLength = size - 2 - patternLength;

  Stop().reset();
  busySince.store(Clock::now().time_since_epoch().count());
  if (way == 0) {
    Engine(Units(pattern, patternLength), Units(text, textLength));
  } else {
    const velmar::CodePage& cp =
        velmar::CodePage::Get(way == 1 ? velmar::CodePage::kUtf8 : velmar::CodePage::kGbk);
    Named(cp, std::string(reinterpret_cast<const char*>(pattern), patternLength),
          std::string(reinterpret_cast<const char*>(text), textLength));
  }
  busySince.store(0);
  return 0;
}
