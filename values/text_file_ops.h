#pragma once
// Small text and file operations shared by the loader, the built-in
// functions, the HTTP client and the other statements, so that every caller
// splits, reads, writes and encodes texts the same way.

#include <string>
#include <string_view>
#include <vector>

#include "values/code_page.h"

namespace velmar {

// Pieces of text between separators; n separators give n + 1 pieces. An empty
// separator gives one piece holding the whole text.
std::vector<std::string> SplitText(std::string_view text, std::string_view separator,
                                   const CodePage& cp);

// A path as scripts write it, with every `\` turned into `/`.
std::string NormalizePath(std::string_view path);

// Every line of the file followed by CR LF (CR LF and LF both end a line);
// empty when the file cannot be opened.
std::string ReadTextFile(std::string_view path);
// Line n (from 1) without its line end; empty when missing.
std::string ReadTextLine(std::string_view path, long long n);
// Number of lines; 0 when the file cannot be opened.
long long CountTextLines(std::string_view path);
// Writes the text with an fopen mode; without "b" in the mode every LF is
// written as CR LF.
bool WriteTextFile(std::string_view path, std::string_view text, std::string_view mode);

std::string UrlEncode(std::string_view text);

// Leading-number parsing as scripts expect it: optional blanks, sign, digits;
// text that starts with no number reads as 0. Saturates instead of overflowing.
long long LeadingInteger(std::string_view text);

}  // namespace velmar
