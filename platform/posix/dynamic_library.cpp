#include "platform/dynamic_library.h"

#include <dlfcn.h>

namespace velmar::platform {

void* OpenLibrary(const std::string& path, SymbolBinding binding, std::string* error) {
  if (path.empty()) {
    if (error) *error = "empty library path";
    return nullptr;
  }
  dlerror();
  void* handle =
      dlopen(path.c_str(), (binding == SymbolBinding::kLazy ? RTLD_LAZY : RTLD_NOW) | RTLD_LOCAL);
  if (!handle && error) {
    const char* reason = dlerror();
    *error = reason ? reason : "cannot load library";
  }
  return handle;
}

void* FindSymbol(void* library, const char* name) {
  if (!library || !name) return nullptr;
  dlerror();
  return dlsym(library, name);
}

void CloseLibrary(void* library) {
  if (library) dlclose(library);
}

}  // namespace velmar::platform
