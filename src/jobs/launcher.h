#pragma once

#include <cstdint>
#include <functional>

#include "tool_command.h"

namespace quorvil {

// The application's pending-event processing: handles what is waiting and returns at once.
using EventHook = std::function<void()>;

// Starts command.programFile with command.parameters (split by the Windows rules where the
// platform needs an argument vector). With command.wait set, waits up to 100 ms at a time and
// calls processEvents after every wait the tool outlives, never before the first wait.
//
// Returns the tool's exit code; 0 when it was started and wait is not set; -1 when it could not
// be started or left no exit code. The launcher keeps no state between calls and leaves no
// process behind that nobody reaps.
[[nodiscard]] std::int32_t LaunchTool(const ToolCommand& command, const EventHook& processEvents);

} // namespace quorvil
