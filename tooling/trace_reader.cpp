#include "tooling/trace_reader.h"

#include <filesystem>
#include <fstream>

namespace velmar {
namespace {

std::string DecodeBase64(std::string_view text) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    const int v = value(c);
    if (v < 0) continue;
    bits = (bits << 6) | static_cast<uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

// The first field the commands read whose value has the wrong type, as
// words; empty when the event can be used. Such a line may be valid JSON
// and still no event of ours.
std::string WrongField(const nlohmann::json& event) {
  for (const char* key :
       {"t", "ns", "status", "responseSize", "requestSize", "n", "s", "rows", "code", "id"}) {
    if (event.contains(key) && !event[key].is_number_integer()) {
      return std::string("\"") + key + "\" is no whole number";
    }
  }
  for (const char* key : {"ev", "method", "url", "kw", "at", "error", "reason", "proxy"}) {
    if (event.contains(key) && !event[key].is_string()) {
      return std::string("\"") + key + "\" is no text";
    }
  }
  for (const char* key : {"failed", "responseCut", "requestCut", "removed", "cut"}) {
    if (event.contains(key) && !event[key].is_boolean()) {
      return std::string("\"") + key + "\" is no true or false";
    }
  }
  if (event.contains("timing")) {
    const nlohmann::json& timing = event["timing"];
    if (!timing.is_object()) return "\"timing\" is no object";
    for (const auto& [name, value] : timing.items()) {
      if (!value.is_number_integer()) return "timing \"" + name + "\" is no whole number";
    }
  }
  if (event.contains("tls")) {
    const nlohmann::json& tls = event["tls"];
    if (!tls.is_object()) return "\"tls\" is no object";
    for (const auto& [name, value] : tls.items()) {
      if (!value.is_string()) return "tls \"" + name + "\" is no text";
    }
  }
  for (const char* key : {"text", "what", "name", "value", "request", "response", "responseHead",
                          "subject", "pattern", "subjectVar", "arg", "sql", "answer", "script"}) {
    if (event.contains(key) && !event[key].is_string() && !event[key].is_object()) {
      return std::string("\"") + key + "\" is no text";
    }
  }
  return {};
}

}  // namespace

std::string TraceFile::TextOf(const nlohmann::json& event, std::string_view key) const {
  const auto it = event.find(key);
  if (it == event.end()) return {};
  const nlohmann::json& value = *it;
  if (value.is_string()) return value.get<std::string>();
  if (!value.is_object()) return {};
  if (value.contains("b64") && value["b64"].is_string()) {
    return DecodeBase64(value["b64"].get<std::string>());
  }
  if (value.contains("ref") && value["ref"].is_number_unsigned()) {
    const auto blob = blobs.find(value["ref"].get<uint64_t>());
    return blob == blobs.end() ? std::string() : blob->second;
  }
  if (value.contains("file") && value["file"].is_string()) {
    // Only a name inside the trace's own folder: a damaged trace must not
    // make the reader open any file it names.
    const std::filesystem::path name(value["file"].get<std::string>());
    for (const auto& part : name) {
      if (part == "..") return {};
    }
    if (name.is_absolute()) return {};
    const std::filesystem::path full = std::filesystem::path(path).parent_path() / name;
    std::ifstream in(full, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return {};
}

std::vector<const nlohmann::json*> TraceFile::Exchanges() const {
  std::vector<const nlohmann::json*> out;
  for (const nlohmann::json& event : events) {
    if (event.value("ev", "") == "http") out.push_back(&event);
  }
  return out;
}

bool ReadTraceFile(const std::string& path, TraceFile& trace, std::string& error) {
  trace = TraceFile{};
  trace.path = path;
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    error = path + ": is a folder, not a trace";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot read the file";
    return false;
  }
  std::string line;
  std::size_t number = 0;
  std::unordered_map<uint64_t, nlohmann::json> definitions;
  bool endedWithNewline = true;
  while (std::getline(in, line)) {
    ++number;
    endedWithNewline = !in.eof();
    if (line.empty()) continue;
    nlohmann::json value = nlohmann::json::parse(line, nullptr, false);
    const std::string at = path + ":" + std::to_string(number) + ": ";
    if (value.is_discarded() || !value.is_object()) {
      if (number == 1) {
        error = at + "not a velmar trace (the first line is no trace header)";
        return false;
      }
      trace.problems.push_back(at + (endedWithNewline
                                         ? "not an event (the line is no JSON object)"
                                         : "the last line is cut short (the run may have been "
                                           "killed while writing it)"));
      continue;
    }
    if (number == 1) {
      if (value.value("trace", "") != "velmar") {
        error = at + "not a velmar trace (the first line is no trace header)";
        return false;
      }
      const int version = value.value("version", 0);
      if (version != 1) {
        error = at + "trace format version " + std::to_string(version) +
                " is not one this program reads (it reads version 1)";
        return false;
      }
      trace.header = std::move(value);
      continue;
    }
    if (!value.contains("ev") || !value["ev"].is_string()) {
      trace.problems.push_back(at + "not an event (no \"ev\" field)");
      continue;
    }
    if (const std::string wrong = WrongField(value); !wrong.empty()) {
      trace.problems.push_back(at + "not an event (" + wrong + ")");
      continue;
    }
    if (value["ev"] == "def") {
      // A statement's description; its runs and events refer to it by "s".
      if (value.contains("s") && value["s"].is_number_unsigned()) {
        const uint64_t key = value["s"].get<uint64_t>();
        definitions[key] = std::move(value);
      }
      continue;
    }
    if (value.contains("s") && value["s"].is_number_unsigned()) {
      const auto def = definitions.find(value["s"].get<uint64_t>());
      if (def != definitions.end()) {
        for (const char* key : {"at", "kw", "text"}) {
          const bool fitting = std::string_view(key) == "at" || value["ev"] == "stmt";
          if (fitting && def->second.contains(key) && !value.contains(key)) {
            value[key] = def->second[key];
          }
        }
      }
    }
    if (value["ev"] == "blob") {
      if (value.contains("id") && value["id"].is_number_unsigned()) {
        trace.blobs[value["id"].get<uint64_t>()] = trace.TextOf(value, "text");
      }
      continue;
    }
    value["line"] = number;
    trace.events.push_back(std::move(value));
  }
  if (number == 0) {
    error = path + ": empty file, not a trace";
    return false;
  }
  return true;
}

std::pair<std::string_view, std::string_view> SplitHead(std::string_view bytes) {
  std::size_t end = bytes.find("\r\n\r\n");
  if (end != std::string_view::npos) return {bytes.substr(0, end + 2), bytes.substr(end + 4)};
  end = bytes.find("\n\n");
  if (end != std::string_view::npos) return {bytes.substr(0, end + 1), bytes.substr(end + 2)};
  return {bytes, {}};
}

std::vector<std::pair<std::string, std::string>> HeadHeaders(std::string_view head) {
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t pos = head.find('\n');
  while (pos != std::string_view::npos && pos + 1 < head.size()) {
    const std::size_t start = pos + 1;
    pos = head.find('\n', start);
    std::string_view line =
        head.substr(start, pos == std::string_view::npos ? head.npos : pos - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
      value.remove_prefix(1);
    out.emplace_back(std::string(line.substr(0, colon)), std::string(value));
  }
  return out;
}

}  // namespace velmar
