#pragma once
// The built-in functions reached through [@name<<<arg<<<arg].

#include <string>
#include <string_view>

namespace velmar {

struct ScriptContext;

std::string CallBuiltin(ScriptContext& ctx, std::string_view namePart);
// The `srand` statement: reseeds this thread's generator from the clock.
void ExecuteSrand(ScriptContext& ctx);

}  // namespace velmar
