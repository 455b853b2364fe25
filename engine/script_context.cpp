#include "engine/script_context.h"

#include "engine/host_requests.h"

namespace velmar {

ScriptContext::~ScriptContext() {
  StopWorkerAndWait();
}

void ScriptContext::StopWorkerAndWait() {
  if (worker.alive()) {
    worker.postMessage(WM_SCRIPT_STOP);
    stop.request();
    worker.signalWake();
  }
  worker.join();
}

}  // namespace velmar
