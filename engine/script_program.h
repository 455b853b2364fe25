#pragma once
// A parsed script: a flat list of numbered statements ending in `exit`, and
// the label table mapping lower-case labels (with their angle brackets) to
// the index of the first statement after them. Every statement and label
// remembers the file and lines it was read from, so that an error can say
// where it happened.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "engine/block_structure.h"
#include "engine/engine_environment.h"

namespace velmar {

struct ScriptCommand {
  int32_t id = 0;
  std::string text;
  // Index into the program's `files`, and the first and last line (from 1)
  // of the statement's text there: `lastLine` is past `line` when
  // continuation lines of the same file were joined to it.
  uint32_t file = 0;
  uint32_t line = 0;
  uint32_t lastLine = 0;
};

using LabelTable = std::map<std::string, uint32_t, std::less<>>;

// Where something was written: a file of the program's `files` and a line.
struct SourceLine {
  uint32_t file = 0;
  uint32_t line = 0;
};

// Every label line in the order read, also those a later line of the same
// label overrode.
struct LabelDefinition {
  std::string label;  // lower case, with its angle brackets
  uint32_t index = 0;
  SourceLine at;
};

// A `using` line that included nothing. The loader still never fails; the
// host tells the person running the script, and `velmar check` reports it.
struct IncludeProblem {
  enum class Kind { kUnreadable, kCycle, kTooDeep };
  Kind kind = Kind::kUnreadable;
  std::string name;  // the `using` argument as written
  std::string path;  // the file it was looked for in (the first place tried)
  SourceLine at;
};

struct ScriptProgram {
  std::vector<ScriptCommand> commands;
  LabelTable labels;
  // The script's own file first (as it was named to the loader), then each
  // include file as it was found; a command's `file` indexes this list.
  std::vector<std::string> files;
  std::vector<LabelDefinition> labelDefinitions;
  std::vector<IncludeProblem> includeProblems;
  // Resolved once for the whole command list; the executor reads it.
  BlockStructure structure;

  // The file a command came from; empty for a program built without files.
  const std::string& FileOf(const ScriptCommand& command) const {
    static const std::string kNoFile;
    return command.file < files.size() ? files[command.file] : kNoFile;
  }

  uint32_t lastIndex() const { return static_cast<uint32_t>(commands.size() - 1); }
  // Index of a label, or nothing.
  const uint32_t* FindLabel(std::string_view label) const {
    auto it = labels.find(label);
    return it == labels.end() ? nullptr : &it->second;
  }
};

// Includes nest at most this deep; deeper `using` lines include nothing.
constexpr int kMaxIncludeDepth = 64;

// Path of the include file for a `using` argument: Script/a/b.vlm under the
// home folder for `a.b`.
std::string IncludePath(const std::filesystem::path& home, std::string_view name,
                        const CodePage& cp);
// The same file beside the including script (a/b.vlm in its folder), where
// `using` looks when the home folder's Script/ does not have it.
std::string IncludePathBeside(const std::string& includingFile, std::string_view name,
                              const CodePage& cp);

// Text for a person of why a `using` line included nothing, in English:
// "cannot read include file PATH" and the like.
std::string DescribeIncludeProblem(const IncludeProblem& problem);

// Parses a script text. Never fails: every line is used or ignored, and the
// program always ends in `exit`. `sourcePath` is the file the text came from
// (for cutting include cycles); it may be empty.
ScriptProgram parseScript(std::string_view source, const EngineEnvironment& env,
                          const std::string& sourcePath = {});

// Reads a script file with ReadTextFile and parses it.
ScriptProgram LoadScriptFile(const std::string& path, const EngineEnvironment& env);

}  // namespace velmar
