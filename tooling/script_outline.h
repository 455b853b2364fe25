#pragma once
// What an editor needs to know about one script file without running it:
// where its labels, event sections, variables and named expressions are
// defined and where they are used, and its `using` lines. Built from the
// text alone, line by line as the loader reads it, so it works on a file
// that does not load cleanly and on text an editor has not saved yet.
//
// Places are in lines from 0 and byte offsets into the line's text in the
// script's code page; the protocol servers turn them into their own units.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/keyword_table.h"
#include "values/code_page.h"

namespace velmar {

enum class OutlineKind { kLabel, kEventSection, kVariable, kNamedExpression, kInclude };

struct OutlineEntry {
  OutlineKind kind = OutlineKind::kLabel;
  // Labels and sections lower case with their brackets ("<main>"); variables
  // and named expressions lower case without brackets; includes the `using`
  // argument as written.
  std::string name;
  uint32_t line = 0;
  uint32_t begin = 0;  // byte offsets of the name in the line
  uint32_t end = 0;
  bool definition = false;
};

struct ScriptOutline {
  std::vector<OutlineEntry> entries;  // in source order
  std::vector<std::string> lines;     // the text's lines, without line ends
};

// Reads a text in the code page (lines end in CR LF or LF).
ScriptOutline OutlineScript(std::string_view text, const CodePage& cp, KeywordFlavor flavor);

// The entry whose name covers `offset` on `line`, or nullptr.
const OutlineEntry* EntryAt(const ScriptOutline& outline, uint32_t line, uint32_t offset);

}  // namespace velmar
