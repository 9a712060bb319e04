#pragma once

#include <string>

#include "path_rules.h"

namespace quorvil {

// Facts about the machine the program runs on.

// The host's path style and the lead-byte test of its 8-bit code page.
[[nodiscard]] PathRules HostPathRules();

// DIR: the directory of the running executable, ending with its separator.
[[nodiscard]] std::string ProgramDirectory();

// A path made absolute against the current directory; an absolute path stays as it is.
[[nodiscard]] std::string FullPath(const std::string& path);

} // namespace quorvil
