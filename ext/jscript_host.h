#pragma once
// The JScript engine a host shares among its scripts.

#include <string>

#include "values/code_page.h"

namespace velmar {

class JScriptHost {
 public:
  JScriptHost();
  ~JScriptHost();
  JScriptHost(const JScriptHost&) = delete;
  JScriptHost& operator=(const JScriptHost&) = delete;

  // Evaluates a script text (active code page); true with the result text,
  // false with errorText() describing the failure. Callers hold the JScript
  // lock.
  bool evalExpression(const std::string& text, const CodePage& cp, std::string& result);
  const std::string& errorText() const { return error_; }
  // Evaluations running longer than this fail, so a script that loops for
  // ever cannot hang its host (Config.ini `jstimeout`, in seconds).
  void setTimeLimitMs(int ms) { timeLimitMs_ = ms; }
  int timeLimitMs() const { return timeLimitMs_; }

 private:
  std::string error_;
  int timeLimitMs_ = 10000;
};

}  // namespace velmar
