#pragma once
// Reads a run's trace for the `velmar trace` commands. A trace may end in
// the middle of a line (the run was killed) or hold lines that are no event
// (damaged or edited by hand): each such line is a problem naming its line
// number, and every readable event is still there.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

namespace velmar {

struct TraceFile {
  std::string path;
  nlohmann::json header;
  std::vector<nlohmann::json> events;  // every event line but the blobs, in order
  // "FILE:LINE: what is wrong", in line order.
  std::vector<std::string> problems;

  // The text of a field as written: a plain string, {"b64": ...} for bytes
  // that are no UTF-8, {"ref": N} for a value written once as a blob, or
  // {"file": ...} for a body kept beside the trace. Empty when missing.
  std::string TextOf(const nlohmann::json& event, std::string_view key) const;
  // The HTTP exchanges in order.
  std::vector<const nlohmann::json*> Exchanges() const;

  std::unordered_map<uint64_t, std::string> blobs;
};

// False, with `error`, only when the file cannot be read or is no trace at
// all (its first line is not a trace header); damage further on goes into
// `problems`.
bool ReadTraceFile(const std::string& path, TraceFile& trace, std::string& error);

// Headers of a head ("Name: value" lines after the first line).
std::vector<std::pair<std::string, std::string>> HeadHeaders(std::string_view head);
// The head of request or response bytes (up to the empty line) and the rest.
std::pair<std::string_view, std::string_view> SplitHead(std::string_view bytes);

}  // namespace velmar
