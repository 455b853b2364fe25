#pragma once
// A private X server (Xvfb) for the tests of global keys, and the
// environment changes they need: the desktop programs' key grabs are tried
// on a real display server, pressed with xdotool like a person would.

#include <QProcess>
#include <optional>
#include <string>

namespace velmar::testing {

// Sets (or, with nullptr, removes) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class XServer {
 public:
  // Starts Xvfb on a free display number; name() stays empty when Xvfb is
  // missing or does not come up.
  XServer();
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  const std::string& name() const { return name_; }
  // Presses keys in xdotool's notation ("ctrl+alt+8"); true when xdotool ran.
  bool Press(const std::string& keys) const;

  // What the key tests need that may be missing here ("Xvfb", "xdotool"),
  // or empty when both are installed.
  static std::string MissingTools();

 private:
  QProcess process_;
  std::string name_;
};

}  // namespace velmar::testing
