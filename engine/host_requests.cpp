#include "engine/host_requests.h"

#include "engine/script_context.h"

namespace velmar {

void sendHostRequest(ScriptContext& ctx, int32_t code, const std::string& text) {
  if (!ctx.host) return;
  ctx.host->handleRequest(HostRequest{code, &ctx}, text);
}

}  // namespace velmar
