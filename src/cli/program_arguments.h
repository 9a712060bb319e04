#pragma once

#include <string>
#include <vector>

namespace quorvil {

// The arguments after the program's name. On POSIX as the system gives them. On Windows in UTF-8,
// read from the UTF-16 command line: the 8-bit one has already turned a letter the code page lacks
// into a look-alike ("ā" into "a") or a "?", which name other files.
[[nodiscard]] std::vector<std::string> ProgramArguments(int argc, char** argv);

} // namespace quorvil
