#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace quorvil {

// The signal that asks the run to stop (SIGINT, SIGTERM, SIGHUP), or 0 while none has come.
using PendingSignal = std::function<int()>;

// quorvil-split: the queue run from a terminal. Returns the process exit code: 0 every file
// converted, 1 a file failed or the run stopped, 2 bad usage, 128 + the signal when one stopped it
// (its tool is ended and its entry cleaned up first). A line that cannot be written to `out` stops
// nothing: the run goes on, and says at its end on `err` how many lines were lost. The arguments are
// ProgramArguments: UTF-8 on Windows; a file whose name the code page cannot write is not converted.
[[nodiscard]] int RunSplitCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                                  const PendingSignal& pendingSignal = {});

} // namespace quorvil
