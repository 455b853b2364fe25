// libFuzzer target: bracket references, built-in functions and the
// arithmetic of parenthesised arguments, as a statement argument goes
// through them. The first piece (up to a NUL byte) is the argument; the next
// pieces are the values of the variables a, b (received text, as from a page,
// when bit 2 of byte 0 is set) and accuracy, a pattern that
// `[$r.N]` reads the results of (matched against the value of a) and the
// cells of `[%q.R.C]`. Byte 0 picks the code page.
//
// The built-ins that read and write files are cut off at link time (see
// CMakeLists.txt): their wrapped entry points below touch nothing, so no
// input can write or read a file anywhere. Native calls need a loaded
// library, and the context has none; nothing here reaches the network.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>

#include "engine/engine_environment.h"
#include "engine/script_context.h"
#include "platform/stop_signal.h"
#include "fuzz_support.h"
#include "regex/named_regex.h"
#include "values/code_page.h"
#include "engine/statements/expansion.h"
#include "values/expression_evaluator.h"
#include "values/text_file_ops.h"

// A changed signature of a wrapped function must not let the built-ins reach
// the real one unnoticed: these fail to compile first.
[[maybe_unused]] static const auto kWrapped = std::make_tuple(
    static_cast<bool (*)(std::string_view, std::string_view, std::string_view,
                         const velmar::CodePage&)>(&velmar::WriteTextFile),
    static_cast<std::string (*)(std::string_view, const velmar::CodePage&)>(&velmar::ReadTextFile),
    static_cast<std::string (*)(std::string_view, long long, const velmar::CodePage&)>(
        &velmar::ReadTextLine),
    static_cast<long long (*)(std::string_view, const velmar::CodePage&)>(&velmar::CountTextLines));

#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
namespace {
// Only the self-test in LLVMFuzzerInitialize names this path.
constexpr std::string_view kProbe = "/nonexistent/velmar-fuzz-probe";
constexpr std::size_t kMaxArgument = 4096;
constexpr std::size_t kLimit = 64 << 10;

using Clock = std::chrono::steady_clock;
std::atomic<int64_t> matchSince{0};

velmar::StopSignal& MatchStop() {
  static velmar::StopSignal stop;
  return stop;
}

void Watchdog() {
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const int64_t since = matchSince.load();
    const int64_t now = Clock::now().time_since_epoch().count();
    if (since != 0 &&
        now - since > std::chrono::nanoseconds(std::chrono::milliseconds(30)).count()) {
      MatchStop().request();
    }
  }
}
}  // namespace

extern "C" {
bool __wrap__ZN6velmar13WriteTextFileESt17basic_string_viewIcSt11char_traitsIcEES3_S3_RKNS_8CodePageE(
    std::string_view path, std::string_view, std::string_view, const velmar::CodePage&) {
  return path == kProbe;
}
std::string
__wrap__ZN6velmar12ReadTextFileB5cxx11ESt17basic_string_viewIcSt11char_traitsIcEERKNS_8CodePageE(
    std::string_view path, const velmar::CodePage&) {
  return std::string(path.substr(0, 16)) + "\r\n";
}
std::string
__wrap__ZN6velmar12ReadTextLineB5cxx11ESt17basic_string_viewIcSt11char_traitsIcEExRKNS_8CodePageE(
    std::string_view path, long long n, const velmar::CodePage&) {
  return n == 1 ? std::string(path.substr(0, 16)) : std::string();
}
long long
__wrap__ZN6velmar14CountTextLinesESt17basic_string_viewIcSt11char_traitsIcEERKNS_8CodePageE(
    std::string_view path, const velmar::CodePage&) {
  return path == kProbe ? 1 : 0;
}
}

// The calls below are redirected like the built-ins' calls are: answers the
// real functions cannot give prove that every wrap is in place.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const velmar::CodePage& cp = velmar::CodePage::Get(velmar::CodePage::kUtf8);
  fuzz::Check(velmar::WriteTextFile(kProbe, "x", "a", cp));
  fuzz::Check(!velmar::ReadTextFile(kProbe, cp).empty());
  fuzz::Check(!velmar::ReadTextLine(kProbe, 1, cp).empty());
  fuzz::Check(velmar::CountTextLines(kProbe, cp) == 1);
  // Texts that double in every pass reach the limit whatever it is; a low
  // one keeps them as fast as any other input.
  velmar::ExpandedTextLimit() = kLimit;
  std::thread(Watchdog).detach();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t way = data[0];
  const auto pieces = fuzz::Pieces(data + 1, size - 1, 7);
  if (pieces[0].size() > kMaxArgument) return 0;
  auto piece = [&](std::size_t i) { return i < pieces.size() ? pieces[i] : std::string_view(); };

  velmar::EngineEnvironment env;
  env.home = fuzz::ScratchFolder();
  env.codePage =
      &velmar::CodePage::Get((way & 1) ? velmar::CodePage::kGbk : velmar::CodePage::kUtf8);
  velmar::ScriptContext ctx(env);
  ctx.variables.Set("a", piece(1));
  if (way & 4) {
    ctx.variables.SetReceived("b", std::string(piece(2)));
  } else {
    ctx.variables.Set("b", piece(2));
  }
  ctx.variables.Set("accuracy", piece(3));
  if (!piece(4).empty()) {
    // Patterns that backtrack without end are legal; scripts end them with
    // a stop request, which the watchdog makes here.
    auto regex = velmar::CreateNamedRegex(ctx.codePage(), piece(4));
    MatchStop().reset();
    matchSince.store(Clock::now().time_since_epoch().count());
    velmar::MatchAll(*regex, ctx.codePage(), piece(1).substr(0, 64), &MatchStop());
    matchSince.store(0);
    ctx.regexes["r"] = std::move(regex);
  }
  velmar::ResultSet& rows = ctx.resultSets["q"];
  rows.push_back({std::string(piece(5)), std::string(piece(6))});
  rows.push_back({std::string(piece(6))});

  std::string text(pieces[0]);
  if (way & 2) {
    velmar::ExecuteVar(ctx, text);
  } else {
    velmar::ReceivedSpans marks;
    velmar::ExpandAndEvaluate(ctx, text, marks);
    // An expression's value may be longer than the expression.
    fuzz::Check(text.size() <= kLimit + 8192);
    // The received parts lie in the text, in order, apart.
    std::size_t end = 0;
    for (const velmar::ReceivedSpan& span : marks) {
      fuzz::Check(span.len > 0 && span.pos >= end && (end == 0 || span.pos > end));
      end = span.pos + span.len;
    }
    fuzz::Check(end <= text.size());
  }

  // The evaluator on its own, with the argument as written.
  const std::string_view raw = pieces[0];
  if (raw.size() >= 2 && raw.front() == '(' && raw.back() == ')') {
    double value = 0;
    if (velmar::EvaluateArithmetic(raw, value)) {
      std::string out;
      velmar::FormatFixed(value, way >> 2, out);
      fuzz::Check(!out.empty());
    }
  }
  return 0;
}
