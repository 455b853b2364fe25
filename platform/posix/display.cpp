#include "platform/display.h"

#include <cstdlib>

#include "platform/dynamic_library.h"

namespace velmar::platform {

// The X library is loaded at run time, so a server without it still runs
// scripts (their screen is 0 by 0).
DisplaySize QueryDisplaySize() {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return {};
  void* lib = OpenLibrary("libX11.so.6");
  if (!lib) return {};
  using OpenFn = void* (*)(const char*);
  using SizeFn = int (*)(void*, int);
  using DefaultScreenFn = int (*)(void*);
  using CloseFn = int (*)(void*);
  auto open = reinterpret_cast<OpenFn>(FindSymbol(lib, "XOpenDisplay"));
  auto width = reinterpret_cast<SizeFn>(FindSymbol(lib, "XDisplayWidth"));
  auto height = reinterpret_cast<SizeFn>(FindSymbol(lib, "XDisplayHeight"));
  auto defaultScreen = reinterpret_cast<DefaultScreenFn>(FindSymbol(lib, "XDefaultScreen"));
  auto close = reinterpret_cast<CloseFn>(FindSymbol(lib, "XCloseDisplay"));
  DisplaySize size;
  if (open && width && height && close) {
    if (void* dpy = open(nullptr)) {
      const int screen = defaultScreen ? defaultScreen(dpy) : 0;
      size.width = width(dpy, screen);
      size.height = height(dpy, screen);
      close(dpy);
    }
  }
  CloseLibrary(lib);
  return size;
}

}  // namespace velmar::platform
