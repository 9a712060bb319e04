#pragma once

#include <string>
#include <vector>

namespace tool {

// The arguments after the program's name. On POSIX as the system gives them. On Windows in UTF-8,
// read from the UTF-16 command line Quorvil starts a tool with: the 8-bit one has a look-alike ("ā"
// as "a") or a "?" for a letter the code page lacks.
[[nodiscard]] std::vector<std::string> Arguments(int argc, char** argv);

} // namespace tool
