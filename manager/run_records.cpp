#include "manager/run_records.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include <nlohmann/json.hpp>

#include "tooling/trace_reader.h"

namespace velmar {
namespace {

// Only the head of a trace is read to tell whose it is: its header line and
// the run line after it.
constexpr std::size_t kHeadBytes = 16 * 1024;

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(),
                                      [](char c) { return c >= '0' && c <= '9'; });
}

// The script the trace's run line names; empty when the head cannot tell.
std::string RecordedScript(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  std::string head(kHeadBytes, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  std::size_t start = 0;
  for (int line = 0; line < 2 && start < head.size(); ++line) {
    const std::size_t end = head.find('\n', start);
    if (end == std::string::npos) return {};
    const nlohmann::json value =
        nlohmann::json::parse(head.begin() + static_cast<std::ptrdiff_t>(start),
                              head.begin() + static_cast<std::ptrdiff_t>(end), nullptr, false);
    start = end + 1;
    if (line == 0) {
      if (!value.is_object() || value.value("trace", std::string()) != "velmar") return {};
      continue;
    }
    if (!value.is_object() || value.value("ev", std::string()) != "run") return {};
    TraceFile trace;
    return trace.TextOf(value, "script");
  }
  return {};
}

}  // namespace

std::filesystem::path NewRecordSession(const std::filesystem::path& root, std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char name[32];
  std::strftime(name, sizeof name, "%Y%m%d-%H%M%S", &local);
  std::filesystem::path folder = root / name;
  std::error_code ec;
  for (int n = 2; std::filesystem::exists(folder, ec); ++n) {
    folder = root / (std::string(name) + "-" + std::to_string(n));
  }
  return folder;
}

std::optional<std::filesystem::path> LatestRunTrace(const std::filesystem::path& root,
                                                    const std::string& scriptPath) {
  std::string stem = std::filesystem::path(scriptPath).stem().string();
  if (stem.empty()) stem = "script";
  const std::string prefix = stem + "-";
  std::optional<std::filesystem::path> best;
  std::filesystem::file_time_type bestTime{};
  std::error_code ec;
  for (std::filesystem::directory_iterator session(root, ec), end; !ec && session != end;
       session.increment(ec)) {
    std::error_code typeError;
    if (!session->is_directory(typeError)) continue;
    std::error_code inner;
    for (std::filesystem::directory_iterator it(session->path(), inner), last;
         !inner && it != last; it.increment(inner)) {
      const std::string name = it->path().filename().string();
      if (name.size() <= prefix.size() + 6 || name.rfind(prefix, 0) != 0 ||
          name.compare(name.size() - 6, 6, ".trace") != 0) {
        continue;
      }
      // "<stem>-<number>.trace": the script "a" is not "a-b".
      if (!AllDigits(std::string_view(name).substr(prefix.size(),
                                                   name.size() - prefix.size() - 6))) {
        continue;
      }
      std::error_code timeError;
      const auto time = it->last_write_time(timeError);
      if (timeError) continue;
      if (best && (time < bestTime || (time == bestTime && it->path() < *best))) continue;
      if (RecordedScript(it->path()) != scriptPath) continue;
      best = it->path();
      bestTime = time;
    }
  }
  return best;
}

}  // namespace velmar
