#pragma once
// Shared libraries loaded at run time: the native calls of scripts, the
// ODBC driver probe and the display query all go through here.

#include <string>

namespace velmar::platform {

enum class SymbolBinding {
  kNow,   // every symbol resolved at load: a broken library fails at once
  kLazy,  // resolved on first use: cheap for a library only probed for names
};

// The library's handle, or null with the loader's reason in `error` (when
// given). An empty path fails: the loader would answer the program itself.
void* OpenLibrary(const std::string& path, SymbolBinding binding = SymbolBinding::kNow,
                  std::string* error = nullptr);
// Address of an exported symbol; null when the library has none of that
// name or the handle is null (a null handle never means "search everything").
void* FindSymbol(void* library, const char* name);
void CloseLibrary(void* library);

}  // namespace velmar::platform
