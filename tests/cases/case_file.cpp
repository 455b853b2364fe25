#include "case_file.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

#include "support/test_support.h"

namespace velmar::testing {
namespace {

struct Section {
  std::string name;
  std::string argument;  // the path of a `file` section
  bool crlf = false;
  bool noeol = false;
  bool escapes = false;
  std::vector<std::string> lines;
  int line = 0;  // of its header
};

std::string Replace(std::string text, const std::string& what, const std::string& by) {
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + by.size()))
    text.replace(at, what.size(), by);
  return text;
}

// \r \n \t \\ \0 and \xHH; any other backslash stays as it is.
std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[i + 1];
    if (c == 'r') {
      out += '\r';
    } else if (c == 'n') {
      out += '\n';
    } else if (c == 't') {
      out += '\t';
    } else if (c == '0') {
      out += '\0';
    } else if (c == '\\') {
      out += '\\';
    } else if (c == 'x' && i + 3 < text.size() &&
               std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
               std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
      out += static_cast<char>(std::strtol(text.substr(i + 2, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += '\\';
      continue;
    }
    ++i;
  }
  return out;
}

std::string Text(const Section& s, const CasePlaces& places) {
  const std::string end = s.crlf ? "\r\n" : "\n";
  std::string text;
  for (std::size_t i = 0; i < s.lines.size(); ++i) {
    std::string line = s.lines[i];
    line = Replace(line, "{{url}}", "http://127.0.0.1:" + std::to_string(places.port));
    line = Replace(line, "{{port}}", std::to_string(places.port));
    line = Replace(line, "{{home}}", places.home);
    if (s.escapes) line = Unescape(line);
    text += line;
    if (i + 1 < s.lines.size() || !s.noeol) text += end;
  }
  return text;
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

}  // namespace

std::optional<CaseFile> ReadCaseFile(const std::filesystem::path& path, const CasePlaces& places,
                                     std::string& error) {
  const std::string data = ReadFile(path);
  std::vector<std::string> lines;
  std::size_t from = 0;
  while (from < data.size()) {
    std::size_t end = data.find('\n', from);
    if (end == std::string::npos) end = data.size();
    lines.push_back(data.substr(from, end - from));
    from = end + 1;
  }
  CaseFile c;
  std::vector<Section> sections;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.rfind("--- ", 0) != 0) {
      if (!sections.empty()) {
        sections.back().lines.push_back(line);
      } else if (c.title.empty()) {
        c.title = line;
      }
      continue;
    }
    const std::vector<std::string> words = Words(line.substr(4));
    const auto fail = [&](const std::string& why) {
      error = path.filename().string() + ":" + std::to_string(i + 1) + ": " + why;
      return std::nullopt;
    };
    if (words.empty()) return fail("a section header without a name");
    Section s;
    s.name = words[0];
    s.line = static_cast<int>(i + 1);
    std::size_t w = 1;
    if (s.name == "file" || s.name == "given") {
      if (words.size() < 2) return fail("a " + s.name + " section names its path");
      s.argument = words[1];
      w = 2;
    }
    for (; w < words.size(); ++w) {
      if (words[w] == "crlf") {
        s.crlf = true;
      } else if (words[w] == "noeol") {
        s.noeol = true;
      } else if (words[w] == "escapes") {
        s.escapes = true;
      } else {
        return fail("unknown option " + words[w]);
      }
    }
    static const char* const kNames[] = {"script", "config", "args",   "input", "reply",
                                         "request", "output", "stderr", "exit",  "file", "given"};
    bool known = false;
    for (const char* name : kNames) known = known || s.name == name;
    if (!known) return fail("unknown section " + s.name);
    for (const Section& before : sections) {
      const bool repeatable = s.name == "reply" || s.name == "request";
      if (!repeatable && before.name == s.name && before.argument == s.argument)
        return fail("a second " + s.name + " section");
    }
    sections.push_back(std::move(s));
  }

  bool haveScript = false;
  for (const Section& s : sections) {
    const std::string text = Text(s, places);
    if (s.name == "script") {
      c.script = text;
      haveScript = true;
    } else if (s.name == "config") {
      c.config = text;
    } else if (s.name == "args") {
      c.arguments = Words(text);
    } else if (s.name == "input") {
      c.input = text;
    } else if (s.name == "reply") {
      c.replies.push_back(text);
    } else if (s.name == "request") {
      c.requests.push_back(text);
    } else if (s.name == "output") {
      c.output = text;
    } else if (s.name == "stderr") {
      c.errors = text;
    } else if (s.name == "exit") {
      const std::vector<std::string> words = Words(text);
      if (words.size() != 1 || words[0].find_first_not_of("0123456789") != std::string::npos) {
        error = path.filename().string() + ":" + std::to_string(s.line) + ": exit holds one number";
        return std::nullopt;
      }
      c.exitCode = std::atoi(words[0].c_str());
    } else if (s.name == "file") {
      c.files[s.argument] = text;
    } else if (s.name == "given") {
      c.given[s.argument] = text;
    }
  }
  if (!haveScript || !c.output) {
    error = path.filename().string() + ": a case needs a script and an output section";
    return std::nullopt;
  }
  return c;
}

}  // namespace velmar::testing
