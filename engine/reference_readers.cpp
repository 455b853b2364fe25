#include "engine/reference_readers.h"

#include "engine/statements/builtins.h"
#include "engine/statements/db_statements.h"
#include "engine/statements/native_statements.h"
#include "engine/statements/regex_statements.h"

namespace velmar {

bool ReadReference(ScriptContext& ctx, char sigil, std::string_view namePart,
                   const ReceivedSpans& nameSpans, std::string& value, ReceivedSpans& spans) {
  const std::size_t start = value.size();
  bool received = false;
  switch (sigil) {
    case '@': {
      ReceivedSpans resultSpans;
      value += CallBuiltinMarked(ctx, namePart, nameSpans, resultSpans);
      for (const ReceivedSpan& s : resultSpans) AppendSpan(spans, s.pos, s.len);
      return true;
    }
    case '$':
      value += ReadRegexValue(ctx, namePart, &received);
      break;
    case '%':
      value += ReadQueryCell(ctx, namePart);
      received = true;
      break;
    case '~':
      value += CallNative(ctx, namePart, nameSpans);
      received = true;
      break;
    default:
      return false;
  }
  if (received) AppendSpan(spans, 0, value.size() - start);
  return true;
}

}  // namespace velmar
