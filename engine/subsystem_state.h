#pragma once
// What one script holds of each subsystem: its named expressions, its HTTP
// client, its database connections and its native libraries. The script's
// context keeps it behind a pointer, so that the context's header (which
// every statement includes) does not pull in every subsystem's headers.

#include "data/connection_table.h"
#include "ext/native_calls.h"
#include "http/http_client.h"
#include "regex/named_regex.h"
#include "regex/utf16_text_cache.h"

namespace velmar {

struct SubsystemState {
  RegexTable regexes;
  Utf16TextCache regexTexts;  // the last text `match` ran over, in UTF-16
  HttpClient http;
  ConnectionTable connections;
  LibraryTable libraries;
  EntryPointCache entryPoints;
};

}  // namespace velmar
