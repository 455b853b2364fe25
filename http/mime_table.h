#pragma once
// The content types that attached files are sent with, by file extension.

#include <cstddef>
#include <string>
#include <string_view>

namespace velmar {

class MimeTable {
 public:
  // Content type for a lower-case extension without the dot; extensions
  // missing from the table give the entry of "*" ("application/octet-stream").
  static const std::string& Lookup(std::string_view extension);
  // Number of keys, "*" included.
  static std::size_t Size();
};

}  // namespace velmar
