#pragma once
// Native library calls: loaded libraries and resolved entry points.

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace velmar {

struct ScriptContext;

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

// Value of the name part of a `~` reference: calls the function and answers
// its result as text (empty after an error).
std::string CallNative(ScriptContext& ctx, std::string_view namePart);
// `loaddll name path`, with the stored (unexpanded) argument text.
void ExecuteLoadDll(ScriptContext& ctx, const std::string& rawText);
// `unloaddll name`, with the already expanded name.
void ExecuteUnloadDll(ScriptContext& ctx, const std::string& expandedName);

}  // namespace velmar
