#include "tooling/trace_export.h"

#include <cstdio>
#include <ctime>
#include <map>

namespace velmar {
namespace {

using nlohmann::json;

double Ms(int64_t micros) {
  return micros < 0 ? -1.0 : static_cast<double>(micros) / 1000.0;
}

// The header's start time plus `micros`, as HAR wants it.
std::string IsoTime(const TraceFile& trace, int64_t micros) {
  const std::string started = trace.header.value("started", "1970-01-01T00:00:00.000Z");
  std::tm tm{};
  int ms = 0;
  if (std::sscanf(started.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                  &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &ms) < 6) {
    return started;
  }
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  const int64_t base = static_cast<int64_t>(timegm(&tm)) * 1000 + ms;
  const int64_t at = base + micros / 1000;
  const std::time_t seconds = static_cast<std::time_t>(at / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(at % 1000));
  return text;
}

json Pairs(const std::vector<std::pair<std::string, std::string>>& pairs) {
  json out = json::array();
  for (const auto& [name, value] : pairs) out.push_back({{"name", name}, {"value", value}});
  return out;
}

std::string HeaderOf(const std::vector<std::pair<std::string, std::string>>& headers,
                     std::string_view name) {
  for (const auto& [n, v] : headers) {
    if (n.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < n.size() && same; ++i) {
      same = std::tolower(static_cast<unsigned char>(n[i])) ==
             std::tolower(static_cast<unsigned char>(name[i]));
    }
    if (same) return v;
  }
  return {};
}

std::vector<std::pair<std::string, std::string>> QueryOf(const std::string& url) {
  std::vector<std::pair<std::string, std::string>> out;
  const std::size_t q = url.find('?');
  if (q == std::string::npos) return out;
  std::string_view rest = std::string_view(url).substr(q + 1);
  rest = rest.substr(0, rest.find('#'));
  while (!rest.empty()) {
    const std::size_t amp = rest.find('&');
    const std::string_view field = rest.substr(0, amp);
    const std::size_t eq = field.find('=');
    out.emplace_back(std::string(field.substr(0, eq)), eq == std::string_view::npos
                                                           ? std::string()
                                                           : std::string(field.substr(eq + 1)));
    if (amp == std::string_view::npos) break;
    rest.remove_prefix(amp + 1);
  }
  return out;
}

std::string StatusText(std::string_view head) {
  const std::string_view line = head.substr(0, head.find_first_of("\r\n"));
  const std::size_t first = line.find(' ');
  if (first == std::string_view::npos) return {};
  const std::size_t second = line.find(' ', first + 1);
  return second == std::string_view::npos ? std::string() : std::string(line.substr(second + 1));
}

std::string VersionOf(std::string_view line, bool request) {
  line = line.substr(0, line.find_first_of("\r\n"));
  if (request) {
    const std::size_t space = line.rfind(' ');
    return space == std::string_view::npos ? "HTTP/1.1" : std::string(line.substr(space + 1));
  }
  return std::string(line.substr(0, line.find(' ')));
}

// Single quotes for a POSIX shell.
std::string Quoted(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out.push_back(c);
    }
  }
  out += "'";
  return out;
}

std::string HostOf(const std::string& url) {
  std::size_t start = url.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  const std::size_t end = url.find_first_of("/?#", start);
  return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

json TraceToHar(const TraceFile& trace) {
  json entries = json::array();
  for (const json* x : trace.Exchanges()) {
    const std::string request = trace.TextOf(*x, "request");
    const auto [requestHead, requestBody] = SplitHead(request);
    const auto requestHeaders = HeadHeaders(requestHead);
    const std::string url = x->value("url", "");
    const std::string responseHead = trace.TextOf(*x, "responseHead");
    const auto responseHeaders = HeadHeaders(responseHead);
    const std::string body = trace.TextOf(*x, "response");
    const json& timing = x->contains("timing") ? (*x)["timing"] : json::object();
    const int64_t dns = timing.value("dns", int64_t{-1});
    const int64_t connect = timing.value("connect", int64_t{-1});
    const int64_t tls = timing.value("tls", int64_t{-1});
    const int64_t firstByte = timing.value("firstByte", int64_t{-1});
    const int64_t total = std::max<int64_t>(timing.value("total", int64_t{0}), 0);
    // HAR's phases follow one another; the trace has points in time.
    const int64_t opened = std::max({int64_t{0}, dns, connect, tls});
    const int64_t wait = firstByte >= 0 ? std::max<int64_t>(firstByte - opened, 0) : 0;
    const int64_t receive = firstByte >= 0 ? std::max<int64_t>(total - firstByte, 0) : 0;
    json timings = {{"blocked", -1},
                    {"dns", dns >= 0 ? Ms(dns) : -1.0},
                    {"connect", connect >= 0 ? Ms(connect - std::max<int64_t>(dns, 0)) : -1.0},
                    {"ssl", tls >= 0 ? Ms(tls - std::max<int64_t>(connect, 0)) : -1.0},
                    {"send", 0},
                    {"wait", Ms(wait)},
                    {"receive", Ms(receive)}};
    // HAR counts the TLS time inside connect.
    if (tls >= 0) timings["connect"] = Ms(tls - std::max<int64_t>(dns, 0));
    const double time = Ms(std::max<int64_t>(opened, 0)) + Ms(wait) + Ms(receive);
    json req = {{"method", x->value("method", "GET")},
                {"url", url},
                {"httpVersion", VersionOf(requestHead, true)},
                {"cookies", json::array()},
                {"headers", Pairs(requestHeaders)},
                {"queryString", Pairs(QueryOf(url))},
                {"headersSize", static_cast<int64_t>(requestHead.size()) + 2},
                {"bodySize", static_cast<int64_t>(requestBody.size())}};
    if (!requestBody.empty()) {
      std::string type = HeaderOf(requestHeaders, "Content-Type");
      req["postData"] = {{"mimeType", type.empty() ? "application/octet-stream" : type},
                         {"text", std::string(requestBody)}};
    }
    const int status = x->value("status", 0);
    std::string type = HeaderOf(responseHeaders, "Content-Type");
    json content = {{"size", x->value("responseSize", int64_t{0})},
                    {"mimeType", type.empty() ? "x-unknown" : type}};
    if (!body.empty()) content["text"] = body;
    if (x->contains("responseCut")) {
      content["comment"] = "the trace kept " + std::to_string(body.size()) + " of " +
                           std::to_string(x->value("responseSize", int64_t{0})) + " bytes";
    }
    json res = {
        {"status", status},
        {"statusText", StatusText(responseHead)},
        {"httpVersion",
         responseHead.empty() ? std::string("HTTP/1.1") : VersionOf(responseHead, false)},
        {"cookies", json::array()},
        {"headers", Pairs(responseHeaders)},
        {"content", content},
        {"redirectURL", HeaderOf(responseHeaders, "Location")},
        {"headersSize", responseHead.empty() ? -1 : static_cast<int64_t>(responseHead.size())},
        {"bodySize", x->value("responseSize", int64_t{0})}};
    json entry = {{"startedDateTime", IsoTime(trace, x->value("t", int64_t{0}))},
                  {"time", time},
                  {"request", req},
                  {"response", res},
                  {"cache", json::object()},
                  {"timings", timings}};
    std::string comment = x->value("at", "");
    if (x->contains("error")) comment += (comment.empty() ? "" : ": ") + x->value("error", "");
    if (!comment.empty()) entry["comment"] = comment;
    if (x->contains("address")) entry["serverIPAddress"] = x->value("address", "");
    entries.push_back(std::move(entry));
  }
  return {{"log",
           {{"version", "1.2"},
            {"creator", {{"name", "velmar"}, {"version", VELMAR_VERSION}}},
            {"entries", entries}}}};
}

bool TraceToCurl(const TraceFile& trace, std::size_t number, std::string& out, std::string& error) {
  const auto exchanges = trace.Exchanges();
  if (number == 0 || number > exchanges.size()) {
    error = "there is no request " + std::to_string(number) + " (the trace has " +
            std::to_string(exchanges.size()) + ")";
    return false;
  }
  const json& x = *exchanges[number - 1];
  const std::string request = trace.TextOf(x, "request");
  const auto [head, body] = SplitHead(request);
  const std::string method = x.value("method", "GET");
  out = "curl";
  if (method != "GET" || !body.empty()) out += " -X " + method;
  out += " " + Quoted(x.value("url", ""));
  for (const auto& [name, value] : HeadHeaders(head)) {
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // curl writes these itself from the URL and the data.
    if (lower == "host" || lower == "content-length" || lower == "connection") continue;
    out += " -H " + Quoted(name + ": " + value);
  }
  if (!body.empty()) out += " --data-binary " + Quoted(body);
  out += "\n";
  return true;
}

std::string TraceSummary(const TraceFile& trace) {
  struct HostFigures {
    std::size_t requests = 0;
    uint64_t sent = 0, received = 0;
    double ms = 0;
  };
  std::map<std::string, HostFigures> hosts;
  std::map<int, std::size_t> statuses;
  std::size_t statements = 0;
  // Events beside the requests, counted by kind.
  std::size_t js = 0, jsFailed = 0, native = 0, cookies = 0, sharedCookies = 0, windowEvents = 0;
  std::string problems;
  int64_t last = 0;
  for (const json& event : trace.events) {
    const std::string kind = event.value("ev", "");
    last = std::max(last, event.value("t", int64_t{0}));
    const std::string at = event.value("at", "");
    if (kind == "stmt") {
      ++statements;
    } else if (kind == "error") {
      problems += "  " + (at.empty() ? std::string("?") : at) +
                  ": error: " + event.value("reason", "") + " (" + trace.TextOf(event, "what") +
                  ")\n";
    } else if (kind == "js") {
      ++js;
      if (event.value("failed", false)) {
        ++jsFailed;
        problems +=
            "  " + (at.empty() ? std::string("?") : at) + ": javascript failed" +
            (event.contains("window") ? " in window " + trace.TextOf(event, "window")
                                      : std::string()) +
            (event.contains("error") ? ": " + trace.TextOf(event, "error") : std::string()) + "\n";
      }
    } else if (kind == "native") {
      ++native;
    } else if (kind == "cookie") {
      ++cookies;
      if (event.value("store", "") == "shared") ++sharedCookies;
    } else if (kind == "window") {
      ++windowEvents;
    } else if (kind == "http") {
      HostFigures& host = hosts[HostOf(event.value("url", ""))];
      host.requests += 1;
      host.sent += event.value("requestSize", uint64_t{0});
      host.received += event.value("responseSize", uint64_t{0});
      if (event.contains("timing")) host.ms += Ms(event["timing"].value("total", int64_t{0}));
      statuses[event.value("status", 0)] += 1;
      if (event.contains("error")) {
        problems += "  " + (at.empty() ? std::string("?") : at) +
                    ": request failed: " + event.value("method", "") + " " +
                    event.value("url", "") + ": " + event.value("error", "") + "\n";
      }
    }
  }
  std::string out =
      "script: " +
      trace.TextOf(trace.events.empty() ? json::object() : trace.events.front(), "script") + "\n";
  out += "started: " + trace.header.value("started", "") + "\n";
  char line[256];
  std::snprintf(line, sizeof line, "statements: %zu, run time: %.3f s\n", statements,
                static_cast<double>(last) / 1e6);
  out += line;
  std::size_t requests = 0;
  for (const auto& [host, f] : hosts) requests += f.requests;
  out += "requests: " + std::to_string(requests) + "\n";
  if (!statuses.empty()) {
    out += "statuses:";
    for (const auto& [status, count] : statuses) {
      out += " " + (status == 0 ? std::string("failed") : std::to_string(status)) + ":" +
             std::to_string(count);
    }
    out += "\n";
  }
  for (const auto& [host, f] : hosts) {
    std::snprintf(line, sizeof line,
                  "  %s: %zu requests, %llu bytes sent, %llu received, %.1f ms\n", host.c_str(),
                  f.requests, static_cast<unsigned long long>(f.sent),
                  static_cast<unsigned long long>(f.received), f.ms);
    out += line;
  }
  if (js + native + cookies + windowEvents > 0) {
    std::snprintf(line, sizeof line,
                  "javascript: %zu (%zu failed), native calls: %zu, cookie changes: %zu (%zu in "
                  "the shared store), window events: %zu\n",
                  js, jsFailed, native, cookies, sharedCookies, windowEvents);
    out += line;
  }
  out += problems.empty() ? "errors: none\n" : "errors:\n" + problems;
  return out;
}

}  // namespace velmar
