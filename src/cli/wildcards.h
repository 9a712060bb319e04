#pragma once

#include <string>
#include <vector>

namespace quorvil {

// The files named on the command line, wildcards expanded as the platform's users expect. A POSIX
// shell has expanded them before the program starts: the names come back as they are. Windows
// shells leave that to each program: a name whose last part holds * or ? stands for the files (not
// folders) in its folder whose names match it, letter case aside, in name order; a name that
// matches nothing stays as it is, and fails as a file that is not there. On Windows the names come
// and go in UTF-8 (ProgramArguments), so that only a * or ? the user typed is a wildcard.
[[nodiscard]] std::vector<std::string> ExpandWildcards(const std::vector<std::string>& names);

} // namespace quorvil
