#pragma once
// A behaviour case: one `.case` file read into its sections (see README.md
// in this folder for the format).

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velmar::testing {

struct CaseFile {
  std::string title;  // the first line of the file
  std::string script;
  std::optional<std::string> config;
  std::map<std::string, std::string> given;  // files put below the home folder before the run
  std::vector<std::string> arguments;  // for `velmar run`, before the script's name
  std::string input;                   // standard input (answers to prompts)
  std::vector<std::string> replies;    // what the server sends, one per connection
  std::vector<std::string> requests;   // the exact bytes of each connection's request
  std::optional<std::string> output;   // standard output of `velmar run`
  std::optional<std::string> errors;   // standard error, when the case says
  int exitCode = 0;
  std::map<std::string, std::string> files;  // path in the home folder -> contents
};

// Values the sections name as {{port}}, {{url}} and {{home}}.
struct CasePlaces {
  int port = 0;
  std::string home;
};

// Reads a case, with the places filled in. On a malformed file returns
// nothing and says why in `error` (with the line).
std::optional<CaseFile> ReadCaseFile(const std::filesystem::path& path, const CasePlaces& places,
                                     std::string& error);

}  // namespace velmar::testing
