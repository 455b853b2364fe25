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

// A path as scripts write it, with every `\` turned into `/`. The overload
// with a code page leaves a GBK trail byte that equals `\` alone; callers
// that know the script's code page should use it (the one without treats
// the path as UTF-8, where no `\` byte is ever part of a character).
std::string NormalizePath(std::string_view path);
std::string NormalizePath(std::string_view path, const CodePage& cp);

// The file operations below normalise the path first (see NormalizePath);
// each has an overload taking the script's code page for that step.

// The file operations read and write regular files only: a folder, a pipe
// or a device counts as a file that cannot be opened.

// Every line of the file followed by CR LF (CR LF and LF both end a line);
// empty when the file cannot be opened or read, or is larger than the
// expansion limit (kMaxExpandedTextSize).
std::string ReadTextFile(std::string_view path);
std::string ReadTextFile(std::string_view path, const CodePage& cp);
// Line n (from 1) without its line end; empty when missing.
std::string ReadTextLine(std::string_view path, long long n);
std::string ReadTextLine(std::string_view path, long long n, const CodePage& cp);
// Number of lines; 0 when the file cannot be opened.
long long CountTextLines(std::string_view path);
long long CountTextLines(std::string_view path, const CodePage& cp);
// Writes the text with an fopen mode; without "b" in the mode every LF is
// written as CR LF. Failure when the file cannot be opened or the text could
// not be written completely; the file is then as it was before the call
// (see platform/durable_file.h). A link at the path is written through: the
// caller named that path.
bool WriteTextFile(std::string_view path, std::string_view text, std::string_view mode);
bool WriteTextFile(std::string_view path, std::string_view text, std::string_view mode,
                   const CodePage& cp);
// The same for files that hold secrets (cookies): created for the owner only.
bool WritePrivateTextFile(std::string_view path, std::string_view text, std::string_view mode,
                          const CodePage& cp);
// The same for files the programs name themselves under the home folder
// (notes): a link planted at the path is replaced, never written through.
bool WriteOwnTextFile(const std::string& path, std::string_view text, std::string_view mode);
// Why the last failed write of the calling thread failed, for diagnostics.
const std::string& LastWriteFailure();

std::string UrlEncode(std::string_view text);

// Leading-number parsing as scripts expect it: optional blanks, sign, digits;
// text that starts with no number reads as 0. Saturates instead of overflowing.
long long LeadingInteger(std::string_view text);

}  // namespace velmar
