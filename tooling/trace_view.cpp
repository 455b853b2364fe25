#include "tooling/trace_view.h"

#include <filesystem>
#include <fstream>
#include <map>

#include <nlohmann/json.hpp>

#include "tooling/trace_view_page.h"

namespace velmar {
namespace {

using nlohmann::json;

// Of a body this much is put into the page; the size is always shown.
constexpr std::size_t kShownBodyLimit = 512 * 1024;

// UTF-16 offset of byte offset `bytes` in UTF-8 `text` (the page's strings
// count UTF-16 units; the trace counts bytes).
int64_t Utf16Offset(const std::string& text, int64_t bytes) {
  if (bytes < 0) return bytes;
  int64_t units = 0;
  const std::size_t end = std::min<std::size_t>(static_cast<std::size_t>(bytes), text.size());
  for (std::size_t i = 0; i < end;) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    units += n == 4 ? 2 : 1;
    i += n;
  }
  return units;
}

std::string Cut(std::string text) {
  if (text.size() > kShownBodyLimit) text.resize(kShownBodyLimit);
  return text;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

bool IsImage(const std::string& head) {
  std::string lower = head;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.find("content-type: image/") != std::string::npos;
}

// The script files named in the trace, read where they can be found now.
json Sources(const TraceFile& trace, const std::map<std::string, int>& files) {
  json out = json::object();
  const std::filesystem::path beside = std::filesystem::path(trace.path).parent_path();
  for (const auto& [file, index] : files) {
    for (const std::filesystem::path& candidate : {std::filesystem::path(file), beside / file}) {
      std::ifstream in(candidate, std::ios::binary);
      if (!in) continue;
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (text.size() > 4 * 1024 * 1024) text.resize(4 * 1024 * 1024);
      json lines = json::array();
      std::size_t pos = 0;
      while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        pos = end + 1;
      }
      out[std::to_string(index)] = lines;
      break;
    }
  }
  return out;
}

}  // namespace

std::string TraceToHtml(const TraceFile& trace) {
  // Positions as [file number, line], statements as compact rows, every
  // other event as an object: a trace of a million statements stays a page
  // the browser can hold.
  std::map<std::string, int> files;
  json fileNames = json::array();
  auto position = [&](const json& event) -> json {
    const std::string at = event.value("at", "");
    const std::size_t colon = at.rfind(':');
    if (colon == std::string::npos) return json::array({-1, 0});
    const std::string file = at.substr(0, colon);
    auto [it, added] = files.emplace(file, static_cast<int>(files.size()));
    if (added) fileNames.push_back(file);
    return json::array({it->second, std::atoi(at.c_str() + colon + 1)});
  };
  json statements = json::array();
  json requests = json::array();
  json others = json::array();
  for (const json& event : trace.events) {
    const std::string kind = event.value("ev", "");
    if (kind == "stmt") {
      const json at = position(event);
      statements.push_back(json::array(
          {event.value("t", int64_t{0}), at[0], at[1], event.value("kw", ""),
           trace.TextOf(event, "text"), trace.TextOf(event, "arg"), event.value("ns", int64_t{0}),
           event.value("failed", false) ? 1 : 0, static_cast<int64_t>(others.size())}));
    } else if (kind == "http") {
      const std::string head = trace.TextOf(event, "responseHead");
      const std::string body = trace.TextOf(event, "response");
      json r = {{"n", requests.size() + 1},
                {"stmt", statements.size()},
                {"t", event.value("t", int64_t{0})},
                {"at", event.value("at", "")},
                {"method", event.value("method", "")},
                {"url", event.value("url", "")},
                {"status", event.value("status", 0)},
                {"request", Cut(trace.TextOf(event, "request"))},
                {"head", head},
                {"body", Cut(body)},
                {"size", event.value("responseSize", int64_t{0})},
                {"timing", event.contains("timing") ? event["timing"] : json::object()},
                {"error", event.value("error", "")}};
      if (event.contains("tls")) r["tls"] = event["tls"];
      if (event.contains("proxy")) r["proxy"] = event["proxy"];
      if (IsImage(head) && body.size() <= kShownBodyLimit) r["image"] = Base64(body);
      requests.push_back(std::move(r));
    } else {
      json e = {{"ev", kind},
                {"t", event.value("t", int64_t{0})},
                {"at", event.value("at", "")},
                {"stmt", statements.size()}};
      if (kind == "var") {
        e["name"] = trace.TextOf(event, "name");
        e["value"] = Cut(trace.TextOf(event, "value"));
      } else if (kind == "match") {
        const std::string subject = trace.TextOf(event, "subject");
        e["name"] = trace.TextOf(event, "name");
        e["pattern"] = trace.TextOf(event, "pattern");
        e["subjectVar"] = trace.TextOf(event, "subjectVar");
        e["subject"] = Cut(subject);
        json spans = json::array();
        if (event.contains("matches") && event["matches"].is_array()) {
          for (const json& match : event["matches"]) {
            json converted = json::array();
            if (!match.is_array()) continue;
            for (const json& span : match) {
              if (!span.is_array() || span.size() != 2 || !span[0].is_number_integer() ||
                  !span[1].is_number_integer()) {
                continue;
              }
              converted.push_back({Utf16Offset(subject, span[0].get<int64_t>()),
                                   Utf16Offset(subject, span[1].get<int64_t>())});
            }
            spans.push_back(converted);
          }
        }
        e["matches"] = spans;
      } else {
        // Everything else as recorded, its texts decoded.
        for (const auto& [key, value] : event.items()) {
          if (key == "ev" || key == "t" || key == "at" || key == "line") continue;
          e[key] = value.is_object() ? json(trace.TextOf(event, key)) : value;
        }
      }
      others.push_back(std::move(e));
    }
  }
  const json data = {
      {"header", trace.header},    {"files", fileNames},   {"sources", Sources(trace, files)},
      {"statements", statements},  {"requests", requests}, {"events", others},
      {"problems", trace.problems}};
  std::string text = data.dump(-1, ' ', false, json::error_handler_t::replace);
  // Inside the page's script element no "</" may appear.
  std::string safe;
  safe.reserve(text.size() + 64);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '<' && i + 1 < text.size() && (text[i + 1] == '/' || text[i + 1] == '!')) {
      safe += "\\u003c";
    } else {
      safe += text[i];
    }
  }
  std::string page(kTraceViewPage);
  const std::string marker = "/*TRACE-DATA*/";
  const std::size_t at = page.find(marker);
  page.replace(at, marker.size(), safe);
  return page;
}

}  // namespace velmar
