#include "ui/global_hot_key.h"

#include <X11/Xlib.h>

#include <QSocketNotifier>
#include <cstdlib>

namespace velmar {

namespace {

// X reports a refused grab asynchronously through the error handler, which
// is process-wide; it is set only around the grab and its round trip.
bool gGrabFailed = false;

int NoteGrabError(Display*, XErrorEvent* error) {
  if (error->error_code == BadAccess) gGrabFailed = true;
  return 0;
}

Display* AsDisplay(void* display) {
  return static_cast<Display*>(display);
}

// The grab is made for each state of these locks, which X counts as
// modifiers.
constexpr unsigned int kLockVariants[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};

}  // namespace

GlobalHotKey::GlobalHotKey(std::string display, QObject* parent)
    : QObject(parent), displayName_(std::move(display)) {}

GlobalHotKey::~GlobalHotKey() {
  unregisterKey();
  delete notifier_;
  if (display_) XCloseDisplay(AsDisplay(display_));
}

bool GlobalHotKey::Connect() {
  if (display_) return true;
  const char* name = displayName_.empty() ? nullptr : displayName_.c_str();
  if (!name) {
    const char* env = std::getenv("DISPLAY");
    if (!env || !*env) return false;  // Wayland alone, or no display at all
  }
  display_ = XOpenDisplay(name);
  if (!display_) return false;
  notifier_ = new QSocketNotifier(ConnectionNumber(AsDisplay(display_)), QSocketNotifier::Read);
  connect(notifier_, &QSocketNotifier::activated, this, &GlobalHotKey::ReadEvents);
  return true;
}

GlobalHotKey::Result GlobalHotKey::registerKey(const std::string& text) {
  unregisterKey();
  const HotKey key = HotKeyFromText(text);
  const KeyInfo* info = key.valid() ? FindKey(key.keyCode) : nullptr;
  if (!info) return status_ = Result::kInvalid;
  if (!Connect()) return status_ = Result::kUnavailable;
  Display* dpy = AsDisplay(display_);
  // A keyboard without the key (no F24, no media keys) offers nothing to grab.
  const KeyCode code = XKeysymToKeycode(dpy, static_cast<KeySym>(info->x11KeySym));
  if (code == 0) return status_ = Result::kNotOnKeyboard;
  unsigned int mods = 0;
  if (key.control) mods |= ControlMask;
  if (key.alt) mods |= Mod1Mask;
  const Window root = DefaultRootWindow(dpy);
  XSync(dpy, False);
  gGrabFailed = false;
  XErrorHandler previous = XSetErrorHandler(&NoteGrabError);
  for (unsigned int variant : kLockVariants) {
    XGrabKey(dpy, code, mods | variant, root, False, GrabModeAsync, GrabModeAsync);
  }
  XSync(dpy, False);
  XSetErrorHandler(previous);
  if (gGrabFailed) {
    for (unsigned int variant : kLockVariants) XUngrabKey(dpy, code, mods | variant, root);
    XSync(dpy, False);
    return status_ = Result::kRefused;
  }
  keycode_ = code;
  modifiers_ = mods;
  return status_ = Result::kRegistered;
}

void GlobalHotKey::unregisterKey() {
  if (!display_ || keycode_ == 0) return;
  Display* dpy = AsDisplay(display_);
  const Window root = DefaultRootWindow(dpy);
  for (unsigned int variant : kLockVariants) {
    XUngrabKey(dpy, keycode_, modifiers_ | variant, root);
  }
  XSync(dpy, False);
  keycode_ = 0;
  modifiers_ = 0;
  status_ = Result::kInvalid;
}

void GlobalHotKey::ReadEvents() {
  Display* dpy = AsDisplay(display_);
  while (XPending(dpy) > 0) {
    XEvent event;
    XNextEvent(dpy, &event);
    if (event.type != KeyPress || keycode_ == 0) continue;
    const unsigned int state = event.xkey.state & ~(LockMask | Mod2Mask);
    if (event.xkey.keycode == keycode_ && (state & (ControlMask | Mod1Mask)) == modifiers_) {
      Q_EMIT activated();
    }
  }
}

}  // namespace velmar
