#include "ext/jscript_host.h"

namespace velmar {

JScriptHost::JScriptHost() = default;
JScriptHost::~JScriptHost() = default;

bool JScriptHost::evalExpression(const std::string&, const CodePage&, std::string&) {
  error_ = "JScript is not available";
  return false;
}

}  // namespace velmar
