#pragma once
// Where the values of bracket references come from, by sigil: `@` built-in
// functions, `$` named-expression results, `%` query results, `~` native
// calls. Expansion reads them through here, so the text machinery needs no
// include of the statements whose values it reads.

#include <string>
#include <string_view>

#include "values/received_text.h"

namespace velmar {

struct ScriptContext;

// Appends the value of a `@`, `$`, `%` or `~` reference to `value`, and the
// received spans of what it appended (counted from where it started) to
// `spans`. `nameSpans` are the received spans of the name part: a built-in
// or native call never splits its arguments inside them. Cells, native
// results and the captures of a match over received text are received;
// a built-in's result is when an argument was, and a file's content always.
// False, with nothing appended, for `!` and any other byte (reserved: the
// reference stays as written).
bool ReadReference(ScriptContext& ctx, char sigil, std::string_view namePart,
                   const ReceivedSpans& nameSpans, std::string& value, ReceivedSpans& spans);

}  // namespace velmar
