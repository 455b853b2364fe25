#include "engine/json_lines.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

namespace velmar {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 character at `pos` (no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0.
std::size_t Utf8CharLength(std::string_view text, std::size_t pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char b0 = byte(pos);
  if (b0 < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    if (b0 == 0xE0) low = 0xA0;
    if (b0 == 0xED) high = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (pos + length > text.size()) return 0;
  const unsigned char b1 = byte(pos + 1);
  if (b1 < low || b1 > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

std::string ValidUtf8(std::string_view text, bool& replaced) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = Utf8CharLength(text, pos);
    if (length == 0) {
      out += kReplacement;
      replaced = true;
      pos += 1;
    } else {
      out.append(text, pos, length);
      pos += length;
    }
  }
  return out;
}

std::size_t CountOf(std::string_view text, char c) {
  std::size_t n = 0;
  for (char x : text) n += x == c ? 1 : 0;
  return n;
}

}  // namespace

std::string ToUtf8Replacing(std::string_view text, const CodePage& codePage, bool& replaced) {
  if (!codePage.IsGbk()) return ValidUtf8(text, replaced);
  // The converter shows a byte sequence it cannot read as '?': when it
  // shows no more of them than the text has, every character was read.
  std::string whole = codePage.ToUtf8(text);
  if (CountOf(whole, '?') == CountOf(text, '?')) return whole;
  std::string out;
  out.reserve(whole.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const unsigned char b = static_cast<unsigned char>(text[pos]);
    if (b < 0x80) {
      out += text[pos++];
      continue;
    }
    const std::size_t length = codePage.CharLength(text, pos);
    const std::string one = codePage.ToUtf8(text.substr(pos, length));
    if (one == "?") {
      // Only the lead byte is given up: a following ASCII byte that did not
      // make a character with it is still shown.
      out += kReplacement;
      replaced = true;
      pos += 1;
    } else {
      out += one;
      pos += length;
    }
  }
  return out;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = static_cast<unsigned char>(bytes[i]) << 16 |
                       static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += kDigits[(v >> 6) & 63];
    out += kDigits[v & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string JsonLineTime() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis < 0 ? millis + 1000 : millis));
  return buffer;
}

std::string FormatJsonLine(const JsonLineFields& fields, const CodePage& codePage) {
  const CodePage& utf8 = CodePage::Get(CodePage::kUtf8);
  bool ignored = false;
  bool replaced = false;
  nlohmann::ordered_json line;
  if (fields.script) {
    line["script"] = *fields.script;
  } else {
    line["script"] = nullptr;
  }
  line["name"] = ToUtf8Replacing(fields.name, codePage, ignored);
  line["time"] = JsonLineTime();
  line["kind"] = std::string(fields.kind);
  line["text"] = ToUtf8Replacing(fields.text, fields.textIsUtf8 ? utf8 : codePage, replaced);
  if (!fields.file.empty()) {
    line["file"] = ToUtf8Replacing(fields.file, codePage, ignored);
    if (fields.line != 0) line["line"] = fields.line;
  }
  if (replaced) line["raw"] = Base64(fields.text);
  std::string out = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  out += '\n';
  return out;
}

}  // namespace velmar
