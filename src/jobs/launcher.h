#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tool_command.h"

namespace quorvil {

// The application's pending-event processing: handles what is waiting and returns at once.
using EventHook = std::function<void()>;

// How a tool ended, to explain a failure in words; LaunchTool's result says no more than its int.
struct ToolEnd {
    enum class Kind { exited, notFound, notStarted, signalled, unknown };
    Kind kind = Kind::unknown;
    int number = 0;        // the exit code, or the signal
    std::string detail;    // why it could not be started, in the system's words
    std::string errorTail; // the last lines the tool wrote to its error output, where the platform keeps them
    std::int64_t pid = 0;  // the tool's process id once it has started, also when it is then ended
};

// Starts command.programFile with command.parameters (split by the Windows rules where the
// platform needs an argument vector). With command.wait set, waits up to 100 ms at a time and
// calls processEvents after every wait the tool outlives, never before the first wait.
//
// Returns the tool's exit code; 0 when it was started and wait is not set; -1 when it could not
// be started or left no exit code. When `end` is given it is filled in as well. The launcher keeps
// no state between calls and leaves no process behind that nobody reaps: should processEvents
// throw, the tool is asked to end (and made to, after 3 s) before the exception goes on.
[[nodiscard]] std::int32_t LaunchTool(const ToolCommand& command, const EventHook& processEvents,
                                      ToolEnd* end = nullptr);

// The last lines of what a tool said about its failure, as ToolEnd::errorTail holds them: up to
// three non-empty lines joined with " / ", at most 400 characters.
[[nodiscard]] std::string LastErrorLines(const std::string& text);

// "vdub ended with exit code 1", "sox was not found", ...: the end in words, with the tool's last
// error lines when there are any.
[[nodiscard]] std::string DescribeEnd(const std::string& tool, std::int32_t result, const ToolEnd& end);

} // namespace quorvil
