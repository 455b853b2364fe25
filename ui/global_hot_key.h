#pragma once
// A global hot key: fires wherever the keyboard focus is. On X11 the key is
// grabbed on the root window through a connection of its own (so it works
// whatever Qt platform draws the windows), once for every state of Num Lock
// and Caps Lock. Where the display server offers no global keys (Wayland
// without X11, no display) it reports that instead.

#include <QObject>
#include <string>

#include "ui/hot_key_text.h"

class QSocketNotifier;

namespace velmar {

class GlobalHotKey : public QObject {
  Q_OBJECT
 public:
  enum class Result {
    kRegistered,
    kUnavailable,  // no display server with global keys
    kRefused,      // another program holds the key
    kInvalid,      // the text's last byte is the code of no key
    kNotOnKeyboard,  // a key this keyboard's map lacks (F24, media keys)
  };

  // `display` is the X display name; empty means $DISPLAY.
  explicit GlobalHotKey(std::string display = {}, QObject* parent = nullptr);
  ~GlobalHotKey() override;

  // Replaces the key registered before.
  Result registerKey(const std::string& text);
  void unregisterKey();
  Result status() const { return status_; }

 Q_SIGNALS:
  void activated();

 private:
  bool Connect();
  void ReadEvents();

  std::string displayName_;
  void* display_ = nullptr;  // Display*
  QSocketNotifier* notifier_ = nullptr;
  unsigned int keycode_ = 0;
  unsigned int modifiers_ = 0;
  Result status_ = Result::kInvalid;
};

}  // namespace velmar
