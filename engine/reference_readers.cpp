#include "engine/reference_readers.h"

#include "data/db_statements.h"
#include "ext/native_statements.h"
#include "regex/regex_statements.h"
#include "values/builtins.h"

namespace velmar {

ReferenceReader ReferenceReaderOf(char sigil) {
  switch (sigil) {
    case '@':
      return &CallBuiltin;
    case '$':
      return &ReadRegexValue;
    case '%':
      return &ReadQueryCell;
    case '~':
      return &CallNative;
    default:
      return nullptr;
  }
}

}  // namespace velmar
