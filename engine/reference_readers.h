#pragma once
// Where the values of bracket references come from, by sigil: `@` built-in
// functions, `$` named-expression results, `%` query results, `~` native
// calls. Expansion reads them through here, so the text machinery needs no
// include of the statements whose values it reads.

#include <string>
#include <string_view>

namespace velmar {

struct ScriptContext;

using ReferenceReader = std::string (*)(ScriptContext& ctx, std::string_view namePart);

// The reader of a sigil; null for `#` (variables, read by expansion itself)
// and for `!` and any other byte (reserved: the reference stays as written).
ReferenceReader ReferenceReaderOf(char sigil);

}  // namespace velmar
