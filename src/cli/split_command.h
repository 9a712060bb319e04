#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace quorvil {

// quorvil-split: the queue run from a terminal. Returns the process exit code:
// 0 every file converted, 1 a file failed or the run stopped, 2 bad usage.
[[nodiscard]] int RunSplitCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

} // namespace quorvil
