#pragma once

// The start of a tool on POSIX, for launcher_posix.cpp: the child's steps between fork and exec, and
// the close-on-exec pipe on which the child says why it could not become the tool.
#include <sys/types.h>

#include "handles_posix.h"

namespace quorvil {

// A descriptor moved to 3 or above, so that setting up 0, 1 and 2 in the child cannot overwrite it.
[[nodiscard]] int AboveStandardStreams(int fd);

// Why the child could not become the tool: the step that failed and its errno. It is written to a
// close-on-exec pipe, which an exec that works closes unwritten.
struct StartFailure {
    enum class Step : int { directory, program, setup };
    Step step;
    int error;
};

// Everything the child needs, made before the fork: after it, the child may only make system calls.
struct StartPlan {
    const char* program;
    char* const* argv;
    const char* directory; // nullptr: ours
    bool hidden;
    int errorFd;  // the tool's error output, or -1
    bool waited;  // a tool we wait for: see LaunchTool
    pid_t parent; // our process id
    int reportFd; // where StartFailure goes
    int maxFd;    // the highest descriptor that may be open, for kernels without close_range
};

// The highest descriptor that may be open, for the child's closing on kernels without close_range.
[[nodiscard]] int HighestPossibleFd();

// The close-on-exec pipe on which the child reports a StartFailure, both ends above the standard
// streams; 0, or the errno of a pipe that could not be made.
[[nodiscard]] int OpenReportPipe(UniqueFd& readEnd, UniqueFd& writeEnd);

// Forks the child that becomes the tool; its process id, or -1 with the fork's errno in `error`.
// Every signal is blocked across the fork, so that no handler of the application runs in the child
// before BecomeTool has reset them all.
[[nodiscard]] pid_t Spawn(const StartPlan& plan, int& error);

// Waits for the child's exec: whether it reported why it could not become the tool, in `failure`.
// The pipe ends unwritten when the exec closes it.
[[nodiscard]] bool ReadStartFailure(int reportFd, StartFailure& failure);

} // namespace quorvil
