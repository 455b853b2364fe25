#pragma once
// Checks a loaded script before it runs: faults of its structure, labels,
// includes, patterns and built-in calls that the language lets pass in
// silence, and a few warnings about lines that are legal but rarely meant.
// Only what the text itself decides is reported: a label, a pattern or a
// call built from variables is left alone.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/engine_environment.h"
#include "engine/script_program.h"

namespace velmar {

struct CheckFinding {
  std::string file;
  uint32_t line = 0;
  uint32_t column = 1;  // from 1, in characters of the line
  bool error = true;    // false: a warning
  std::string message;
};

// Texts of files as an editor holds them (by path as in the program's
// `files`, in the code page, lines ending in CR LF): columns are found in
// these instead of in the files on disk.
using SourceTexts = std::map<std::string, std::string, std::less<>>;

// Every finding of a loaded program, sorted by file order, line and column.
std::vector<CheckFinding> CheckProgram(const ScriptProgram& program, const EngineEnvironment& env,
                                       const SourceTexts* texts = nullptr);

// Loads the script file as a run would and checks it.
std::vector<CheckFinding> CheckScriptFile(const std::string& path, const EngineEnvironment& env);

// "FILE:LINE:COLUMN: error: MESSAGE", the form compilers use.
std::string FormatFindingText(const CheckFinding& finding);
// One JSON object: {"file", "line", "column", "severity", "message"}.
std::string FormatFindingJson(const CheckFinding& finding);

}  // namespace velmar
