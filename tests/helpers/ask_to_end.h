#pragma once

#include <string>

// Waits up to `ms` milliseconds to be asked to end the way the launcher asks (SIGTERM on POSIX,
// WM_CLOSE to a window of its own on Windows), having written "ready" to `file` once it can be
// asked. When asked and `answer` is set, writes more than a pipe holds to its error output (POSIX),
// then "asked" to `file`, and returns 0; a request not answered is ignored. Returns 1 when nobody
// asked in time.
int WaitToBeAskedToEnd(int ms, const std::string& file, bool answer);

// Starts a child of its own that sleeps for a minute, and writes the child's process id to `file`
// (POSIX; Windows has no process group for it to be in, and this returns false).
bool LeaveAGrandchild(const std::string& file);
