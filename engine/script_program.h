#pragma once
// A parsed script: a flat list of numbered statements ending in `exit`, and
// the label table mapping lower-case labels (with their angle brackets) to
// the index of the first statement after them.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine_environment.h"

namespace velmar {

struct ScriptCommand {
  int32_t id = 0;
  std::string text;
};

using LabelTable = std::map<std::string, uint32_t, std::less<>>;

struct ScriptProgram {
  std::vector<ScriptCommand> commands;
  LabelTable labels;

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

// Parses a script text. Never fails: every line is used or ignored, and the
// program always ends in `exit`. `sourcePath` is the file the text came from
// (for cutting include cycles); it may be empty.
ScriptProgram parseScript(std::string_view source, const EngineEnvironment& env,
                          const std::string& sourcePath = {});

// Reads a script file with ReadTextFile and parses it.
ScriptProgram LoadScriptFile(const std::string& path, const EngineEnvironment& env);

}  // namespace velmar
