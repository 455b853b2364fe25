#pragma once
// `velmar trace view`: one self-contained HTML file (no network access, no
// external script) to look through a recorded run: the statements on a
// timeline with their source lines, the requests with search and filter,
// request and response details, pattern matches highlighted in their text,
// and the variables as they stood at a selected statement.

#include <string>

#include "tooling/trace_reader.h"

namespace velmar {

std::string TraceToHtml(const TraceFile& trace);

}  // namespace velmar
