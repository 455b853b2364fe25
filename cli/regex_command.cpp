#include "cli/regex_command.h"

#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "regex/named_regex.h"
#include "values/code_page.h"

namespace velmar {
namespace {

int Usage() {
  std::fputs("usage: velmar regex [--codepage N] PATTERN [FILE]\n", stderr);
  return 2;
}

}  // namespace

int RunRegexCommand(const std::vector<std::string>& args) {
  int codePage = CodePage::kUtf8;
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--codepage") {
      if (i + 1 >= args.size()) return Usage();
      const std::string& value = args[++i];
      if (value != "65001" && value != "936") {
        std::fprintf(stderr, "velmar regex: unknown code page %s (65001 or 936)\n", value.c_str());
        return 2;
      }
      codePage = std::stoi(value);
    } else {
      rest.push_back(args[i]);
    }
  }
  if (rest.empty() || rest.size() > 2) return Usage();

  std::string text;
  if (rest.size() == 2) {
    // A folder opens like a file and fails only when read (the stream then
    // throws), so a read error is caught and reported like a missing file.
    std::ifstream in(rest[1], std::ios::binary);
    bool read = static_cast<bool>(in);
    if (read) {
      try {
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        read = !in.bad();
      } catch (const std::exception&) {
        read = false;
      }
    }
    if (!read) {
      std::fprintf(stderr, "velmar regex: cannot read %s\n", rest[1].c_str());
      return 1;
    }
  } else {
    std::ostringstream all;
    all << std::cin.rdbuf();
    text = all.str();
  }
  const std::string report = RegexTesterText(CodePage::Get(codePage), rest[0], text);
  std::fwrite(report.data(), 1, report.size(), stdout);
  std::fputc('\n', stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace velmar
