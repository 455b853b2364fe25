#include "values/web_text.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>
#include <vector>

#include "values/code_page.h"

namespace velmar {
namespace {

using Json = nlohmann::json;

std::string FromUtf8(std::string_view text, const CodePage& cp) {
  if (cp.id() == CodePage::kUtf8) return std::string(text);
  std::u16string wide;
  CodePage::Get(CodePage::kUtf8).ToUtf16(text, wide);
  std::string out;
  cp.FromUtf16(wide, out);
  return out;
}

// A script usually reads several values out of one response, each with its
// own call: the last document parsed on this thread is kept, so the text is
// parsed once and only compared on the next call.
struct ParsedDocument {
  int codePage = 0;
  std::string text;
  Json document;
  bool valid = false;
};

const ParsedDocument& Parse(std::string_view text, const CodePage& cp) {
  thread_local ParsedDocument last;
  if (last.codePage == cp.id() && last.text == text && !last.text.empty()) return last;
  last.codePage = cp.id();
  last.text.assign(text);
  last.document = Json::parse(cp.ToUtf8(text), nullptr, false);
  last.valid = !last.document.is_discarded();
  return last;
}

// The segments of a path: keys and indexes, in order.
struct Segment {
  std::string key;
  bool index = false;  // written as [N]
};

std::optional<std::vector<Segment>> SplitPath(std::string_view path) {
  std::vector<Segment> segments;
  std::size_t i = 0;
  while (i < path.size()) {
    if (path[i] == '.') {
      ++i;
      continue;
    }
    if (path[i] == '[') {
      const std::size_t close = path.find(']', i);
      if (close == std::string_view::npos) return std::nullopt;
      segments.push_back({std::string(path.substr(i + 1, close - i - 1)), true});
      i = close + 1;
      continue;
    }
    std::size_t end = i;
    while (end < path.size() && path[end] != '.' && path[end] != '[') ++end;
    segments.push_back({std::string(path.substr(i, end - i)), false});
    i = end;
  }
  return segments;
}

std::optional<std::size_t> ReadIndex(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::size_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<std::size_t>(c - '0');
  }
  return n;
}

const Json* Find(std::string_view json, std::string_view path, const CodePage& cp) {
  const ParsedDocument& parsed = Parse(json, cp);
  if (!parsed.valid) return nullptr;
  const std::optional<std::vector<Segment>> segments = SplitPath(cp.ToUtf8(path));
  if (!segments) return nullptr;
  const Json* at = &parsed.document;
  for (const Segment& segment : *segments) {
    if (at->is_array()) {
      const std::optional<std::size_t> index = ReadIndex(segment.key);
      if (!index || *index >= at->size()) return nullptr;
      at = &(*at)[*index];
    } else if (at->is_object() && !segment.index) {
      const auto it = at->find(segment.key);
      if (it == at->end()) return nullptr;
      at = &*it;
    } else {
      return nullptr;
    }
  }
  return at;
}

// The named references a page is likely to hold: the markup ones and the
// Latin-1 letters and signs, then common punctuation and symbols.
struct NamedReference {
  std::string_view name;
  char32_t code;
};

constexpr std::string_view kLatin1Names[] = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",
    "uml",    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",
    "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",  "para",   "middot",
    "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest",
    "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil",
    "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",
    "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",
    "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",
    "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",
    "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
    "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

constexpr NamedReference kOtherNames[] = {
    {"amp", '&'},         {"lt", '<'},          {"gt", '>'},          {"quot", '"'},
    {"apos", '\''},       {"ndash", 0x2013},    {"mdash", 0x2014},    {"lsquo", 0x2018},
    {"rsquo", 0x2019},    {"sbquo", 0x201A},    {"ldquo", 0x201C},    {"rdquo", 0x201D},
    {"bdquo", 0x201E},    {"dagger", 0x2020},   {"Dagger", 0x2021},   {"bull", 0x2022},
    {"hellip", 0x2026},   {"permil", 0x2030},   {"prime", 0x2032},    {"Prime", 0x2033},
    {"lsaquo", 0x2039},   {"rsaquo", 0x203A},   {"euro", 0x20AC},     {"trade", 0x2122},
    {"larr", 0x2190},     {"uarr", 0x2191},     {"rarr", 0x2192},     {"darr", 0x2193},
    {"harr", 0x2194},     {"minus", 0x2212},    {"infin", 0x221E},    {"ne", 0x2260},
    {"le", 0x2264},       {"ge", 0x2265},       {"asymp", 0x2248},    {"ensp", 0x2002},
    {"emsp", 0x2003},     {"thinsp", 0x2009},   {"zwnj", 0x200C},     {"zwj", 0x200D},
    {"lrm", 0x200E},      {"rlm", 0x200F},      {"OElig", 0x152},     {"oelig", 0x153},
    {"Scaron", 0x160},    {"scaron", 0x161},    {"Yuml", 0x178},      {"fnof", 0x192},
    {"circ", 0x2C6},      {"tilde", 0x2DC},     {"Alpha", 0x391},     {"Beta", 0x392},
    {"Gamma", 0x393},     {"Delta", 0x394},     {"Omega", 0x3A9},     {"alpha", 0x3B1},
    {"beta", 0x3B2},      {"gamma", 0x3B3},     {"delta", 0x3B4},     {"pi", 0x3C0},
    {"sigma", 0x3C3},     {"omega", 0x3C9},     {"mu", 0x3BC},        {"lambda", 0x3BB},
    {"hearts", 0x2665},   {"spades", 0x2660},   {"clubs", 0x2663},    {"diams", 0x2666},
};

std::optional<char32_t> NamedCode(std::string_view name) {
  for (std::size_t i = 0; i < std::size(kLatin1Names); ++i) {
    if (kLatin1Names[i] == name) return static_cast<char32_t>(0xA0 + i);
  }
  for (const NamedReference& ref : kOtherNames) {
    if (ref.name == name) return ref.code;
  }
  return std::nullopt;
}

void AppendCodePoint(std::u16string& out, char32_t code) {
  if (code >= 0x10000) {
    code -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (code >> 10));
    out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
  } else {
    out += static_cast<char16_t>(code);
  }
}

}  // namespace

std::optional<std::string> JsonValue(std::string_view json, std::string_view path,
                                     const CodePage& cp) {
  const Json* value = Find(json, path, cp);
  if (!value) return std::nullopt;
  if (value->is_string()) return FromUtf8(value->get_ref<const std::string&>(), cp);
  // Replacement characters for broken UTF-8 rather than an exception.
  return FromUtf8(value->dump(-1, ' ', false, Json::error_handler_t::replace), cp);
}

std::optional<std::size_t> JsonCount(std::string_view json, std::string_view path,
                                     const CodePage& cp) {
  const Json* value = Find(json, path, cp);
  if (!value || !(value->is_array() || value->is_object())) return std::nullopt;
  return value->size();
}

std::string JsonEscape(std::string_view text, const CodePage& cp) {
  std::string out;
  out.reserve(text.size() + 8);
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t length = std::max<std::size_t>(1, cp.CharLength(text, i));
    if (length > 1) {
      // A double-byte character's trail byte may look like '\'; it is no
      // escape.
      out.append(text, i, length);
      i += length;
      continue;
    }
    const auto c = static_cast<unsigned char>(text[i++]);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (c < 0x20) {
          static constexpr char kHex[] = "0123456789abcdef";
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

std::string HtmlDecode(std::string_view text, const CodePage& cp) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (true) {
    // '&' is never the trail byte of a double-byte character.
    const std::size_t amp = text.find('&', pos);
    if (amp == std::string_view::npos) break;
    out.append(text, pos, amp - pos);
    pos = amp + 1;
    const std::size_t semicolon = text.find(';', pos);
    // References are short; a far semicolon belongs to something else.
    if (semicolon == std::string_view::npos || semicolon - pos > 32 || semicolon == pos) {
      out += '&';
      continue;
    }
    const std::string_view name = text.substr(pos, semicolon - pos);
    std::optional<char32_t> code;
    if (name[0] == '#') {
      const bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
      const std::string_view digits = name.substr(hex ? 2 : 1);
      char32_t value = 0;
      bool ok = !digits.empty() && digits.size() <= 8;
      for (char c : digits) {
        if (!ok) break;
        int d;
        if (c >= '0' && c <= '9') {
          d = c - '0';
        } else if (hex && c >= 'a' && c <= 'f') {
          d = c - 'a' + 10;
        } else if (hex && c >= 'A' && c <= 'F') {
          d = c - 'A' + 10;
        } else {
          ok = false;
          break;
        }
        value = value * (hex ? 16 : 10) + static_cast<char32_t>(d);
      }
      if (ok) {
        // No character has such a number: the replacement character.
        code = (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) ? 0xFFFD
                                                                                          : value;
      }
    } else {
      code = NamedCode(name);
    }
    if (!code) {
      out += '&';
      continue;
    }
    std::u16string wide;
    AppendCodePoint(wide, *code);
    std::string bytes;
    cp.FromUtf16(wide, bytes);
    out += bytes;
    pos = semicolon + 1;
  }
  out.append(text, pos, std::string_view::npos);
  return out;
}

std::string HtmlEncode(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace velmar
