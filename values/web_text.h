#pragma once
// Values out of the texts the web serves and into the texts it takes: a
// value of a JSON document by its path, a text escaped for a JSON string,
// and HTML character references decoded and encoded. Texts are in the
// script's code page on both sides; characters the code page lacks become
// its default character.

#include <optional>
#include <string>
#include <string_view>

namespace velmar {

class CodePage;

// The value at `path` in the JSON document `json`: object keys and array
// indexes joined by '.' ("items.0.id"; "items[0].id" reads the same where no
// reference surrounds it); an empty path is the whole document. Strings come back
// unescaped; numbers, true, false and null as written in JSON; objects and
// arrays as compact JSON. Nothing when the text is no JSON or the path
// leads nowhere.
std::optional<std::string> JsonValue(std::string_view json, std::string_view path,
                                     const CodePage& cp);
// The number of elements of the array (or members of the object) at `path`;
// nothing when there is no array or object there.
std::optional<std::size_t> JsonCount(std::string_view json, std::string_view path,
                                     const CodePage& cp);
// `text` escaped to stand between the quotes of a JSON string: '"', '\' and
// the control characters; other characters stay as they are.
std::string JsonEscape(std::string_view text, const CodePage& cp);

// Named ("&amp;", "&eacute;"), decimal ("&#233;") and hexadecimal
// ("&#xE9;") references replaced by their characters; an unknown or
// unterminated one stays as it is.
std::string HtmlDecode(std::string_view text, const CodePage& cp);
// '&', '<', '>', '"' and '\'' as references.
std::string HtmlEncode(std::string_view text);

}  // namespace velmar
