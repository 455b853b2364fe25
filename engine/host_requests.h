#pragma once
// The conversation between a script's worker and its host: request codes,
// the request record, window events, and the host interface that the
// console host and the windowed programs implement.

#include <cstdint>
#include <string>

#include "engine/statement_result.h"

namespace velmar {

struct ScriptContext;

constexpr int32_t WM_TRAY_NOTIFY = 1122;
constexpr int32_t WM_SCRIPT_REQUEST = 1124;
constexpr int32_t WM_WINDOW_EVENT = 1125;
constexpr int32_t WM_SCRIPT_STOP = 1138;
constexpr int32_t WM_SCRIPT_EVENT = 1139;
constexpr int32_t WM_SCRIPT_ENDED = 1141;

constexpr int32_t REQ_SHOW = 2;
constexpr int32_t REQ_RIGHT = 3;
constexpr int32_t REQ_LEFT = 4;
constexpr int32_t REQ_STATE = 5;
constexpr int32_t REQ_NOTE = 15;
constexpr int32_t REQ_ALERT = 16;
constexpr int32_t REQ_JS = 17;
constexpr int32_t REQ_PROMPT = 22;
constexpr int32_t REQ_INPUT_DONE = 23;
constexpr int32_t REQ_OPENWINDOW = 24;
constexpr int32_t REQ_SETWINDOW = 25;
constexpr int32_t REQ_SHOWWINDOW = 26;
constexpr int32_t REQ_HIDEWINDOW = 27;
constexpr int32_t REQ_CLOSEWINDOW = 28;
constexpr int32_t REQ_JSWINDOW = 29;
constexpr int32_t REQ_SUSPENDED = 33;
constexpr int32_t REQ_SHOWTRAY = 34;
constexpr int32_t REQ_HIDETRAY = 35;
constexpr int32_t REQ_EVENT_VARS = 1144;

struct HostRequest {
  int32_t code = 0;
  ScriptContext* instance = nullptr;
};

struct WindowEvent {
  std::string sourceName;
  std::string eventName;
  std::string value;
};

struct ScreenSize {
  int width = 0;
  int height = 0;
};

class ScriptHost {
 public:
  virtual ~ScriptHost() = default;
  // Handles one request; returns when the host is done with it, with any
  // variables it sets in place. Called on the requesting worker's thread; a
  // windowed host hands the work to its UI thread and waits there for the
  // answer, holding no lock.
  virtual void handleRequest(const HostRequest& request, const std::string& text) = 0;
  // Size of the primary screen; zeros when there is none. Called on the
  // asking worker's thread, so a windowed host answers from a copy its UI
  // thread keeps up to date rather than asking its widgets.
  virtual ScreenSize screenSize() { return {}; }
};

// Sends a request to the script's host and returns after it was handled.
// Without a host the request is ignored.
void sendHostRequest(ScriptContext& ctx, int32_t code, const std::string& text = {});

// The handler of a statement whose whole action is one request with its
// text (`show`, `alert`, `openwindow`, ...).
template <int32_t kCode>
StatementResult ForwardToHost(ScriptContext& ctx, const std::string& text) {
  sendHostRequest(ctx, kCode, text);
  return StatementResult::Continue();
}

}  // namespace velmar
