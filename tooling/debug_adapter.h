#pragma once
// The step debugger behind `velmar debug`: Debug Adapter Protocol messages
// of an editor in, answers and events out. It runs one script with the
// command line's host (its requests become output of the debug console) and
// stops it before a statement where a breakpoint, a step or a pause asks
// for it. While the script waits there, everything the editor asks about it
// (call stack, variables, named expressions, the last response, result
// sets, evaluations) is done on the script's own thread, so nothing reads
// the script's state while it runs.

#include <cstdint>

#include "platform/console_io.h"

namespace velmar {

struct ScriptContext;

// Serves on the descriptors until the input closes; a disconnect stops the
// script, and a script still running at the end is stopped and waited for.
// Returns the exit status: 0 after a disconnect, 1 when the input closed
// without one.
int RunDebugAdapter(platform::Descriptor input, platform::Descriptor output);

}  // namespace velmar
