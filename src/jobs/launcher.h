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

// What a thread needs before it starts tools, held for as long as it may: on Windows COM, which
// the shell's ShellExecuteEx may hand the start to; nothing on POSIX. Each program holds one in
// its main thread from its start, and a run holds one in each thread it starts tools from.
class LauncherScope {
public:
    LauncherScope();
    ~LauncherScope();
    LauncherScope(const LauncherScope&) = delete;
    LauncherScope& operator=(const LauncherScope&) = delete;

private:
    bool initialised_ = false;
};

// Starts command.programFile with command.parameters (split by the Windows rules where the
// platform needs an argument vector). With command.wait set, waits up to 100 ms at a time and
// calls processEvents after every wait the tool outlives, never before the first wait.
//
// Returns the tool's exit code; 0 when it was started and wait is not set; -1 when it could not
// be started or left no exit code. When `end` is given it is filled in as well. The launcher keeps
// no state between calls and leaves no process behind that nobody reaps: should processEvents
// throw, the tool is asked to end, and made to after 3 s, before the exception goes on;
// processEvents is still called every 100 ms meanwhile (what it throws then is set aside).
//
// To be asked to end, a tool gets SIGTERM on POSIX, and WM_CLOSE to its windows on Windows, where
// one without a window cannot be asked and is ended at once.
//
// A tool waited for does not outlive the program: on POSIX it leads a process group of its own
// (ending it ends what it started), reads nothing from the terminal, and is killed should the
// program die; on Windows it is held in a job object that ends it when the program ends.
[[nodiscard]] std::int32_t LaunchTool(const ToolCommand& command, const EventHook& processEvents,
                                      ToolEnd* end = nullptr);

// The last lines of what a tool said about its failure, as ToolEnd::errorTail holds them: up to
// three non-empty lines joined with " / ", at most 400 characters.
[[nodiscard]] std::string LastErrorLines(const std::string& text);

// ToolEnd::detail for a tool whose working folder is missing: told apart from a missing tool.
[[nodiscard]] std::string FolderNotFoundDetail(const std::string& folder);

// "vdub ended with exit code 1", "sox was not found", ...: the end in words, with the tool's last
// error lines when there are any.
[[nodiscard]] std::string DescribeEnd(const std::string& tool, std::int32_t result, const ToolEnd& end);

} // namespace quorvil
