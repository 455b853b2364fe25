#pragma once
// The machine-readable record of a run (`--jsonl`): one JSON object per
// line, in UTF-8 whatever the script's code page, so that a journal, a log
// shipper or `jq` reads every line without knowing the script.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "values/code_page.h"

namespace velmar {

// One line of the record. `name`, `text` and `file` are in the script's
// code page; `utf8Text` is for the programs' own messages.
struct JsonLineFields {
  std::optional<int32_t> script;  // the script's id; none for the program's own lines
  std::string_view name;
  std::string_view kind;  // show, right, left, state, alert, note, prompt, diagnostic, error
  std::string_view text;
  bool textIsUtf8 = false;
  std::string_view file;  // errors only; empty elsewhere
  uint32_t line = 0;      // errors only; 0 when not known
};

// The object with its line end: {"script":..,"name":..,"time":..,"kind":..,
// "text":..} and, for errors with a position, "file" and "line". A byte of
// `text` that is no character of its code page becomes U+FFFD, and then
// "raw" carries the text's own bytes in base64, so nothing is lost and the
// line stays valid UTF-8.
std::string FormatJsonLine(const JsonLineFields& fields, const CodePage& codePage);

// Text of `codePage` as UTF-8; every byte that starts no character becomes
// U+FFFD, and `replaced` is then set.
std::string ToUtf8Replacing(std::string_view text, const CodePage& codePage, bool& replaced);

std::string Base64(std::string_view bytes);

// The time of a line: UTC with milliseconds, "2026-12-09T15:04:05.123Z".
std::string JsonLineTime();

}  // namespace velmar
