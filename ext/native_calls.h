#pragma once
// Native library calls: loaded libraries, resolved entry points, and the
// call itself with argument types decided at run time. The statements and
// the `~` reference that use them are in engine/statements/native_statements.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "values/code_page.h"

namespace velmar {

// A library entered by `loaddll`. A failed load keeps its entry with a null
// handle, so later calls through the name find no function; the loader's
// own message is kept for diagnostics.
struct LoadedLibrary {
  void* handle = nullptr;
  std::string loadError;
};

// Library name (case-sensitive) → loaded library. Owns its handles: every
// handle still in the table is freed when the table goes.
class LibraryTable {
 public:
  LibraryTable() = default;
  ~LibraryTable();
  LibraryTable(const LibraryTable&) = delete;
  LibraryTable& operator=(const LibraryTable&) = delete;

  // Loads the file and enters it under the name; an entry of that name is
  // freed and replaced.
  void load(const std::string& name, const std::string& path);
  // Null when the name was never loaded.
  const LoadedLibrary* find(const std::string& name) const;
  // Frees the library and removes its entry; false when the name is unknown.
  bool unload(const std::string& name);
  std::size_t size() const { return libraries_.size(); }

 private:
  std::map<std::string, LoadedLibrary> libraries_;
};

// Call head ("lib.function", type prefix removed) → resolved address. Each
// entry remembers its library, so freeing a library drops its addresses and
// a freed function can never be called through a stale entry.
class EntryPointCache {
 public:
  void* find(const std::string& head) const;
  void insert(const std::string& head, const std::string& library, void* address);
  void dropLibrary(const std::string& library);
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::string library;
    void* address = nullptr;
  };
  std::map<std::string, Entry> entries_;
};

// More arguments than this are refused as a format error: no function a
// script may reasonably call takes more, and every argument costs a private
// copy.
constexpr std::size_t kMaxNativeArguments = 32;

// The type a call part states with its "(type)" prefix.
enum class NativeType { kText, kWideText, kInt };

struct TypedPart {
  NativeType type = NativeType::kText;
  std::string rest;             // the part after its prefix
  bool bracketMissing = false;  // "(" without ")": the type is unknown
};

// Reads the optional "(type)" in front of a call part. Names are compared
// case-insensitively with blanks around them ignored; an unknown name means
// text, as does a missing prefix.
TypedPart ReadTypePrefix(std::string_view part, const CodePage& cp);

// Address of a function in a loaded library; null when there is none (or
// the library failed to load).
void* FindFunction(const LoadedLibrary& library, const std::string& function);

// Calls `function` with the arguments as the script wrote them: the first
// written argument is the callee's last parameter. Texts go as pointers to
// private zero-terminated copies, integers as 32-bit values. False, with
// nothing called, for an argument type the call cannot pass (wide text) or
// a call the platform cannot prepare.
bool InvokeNative(void* function, NativeType resultType, const std::vector<TypedPart>& arguments,
                  const CodePage& cp, std::string& result);

}  // namespace velmar
