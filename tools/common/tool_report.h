#pragma once

#include <string>

namespace tool {

// Says why the tool failed, in one line: "line\n" on its error output (on Windows only when that is
// a file or a pipe: a GUI program started from a window has none), and on Windows also in the file
// the launcher reads once the tool has ended (report_file.h), since it reads no error output there.
void ReportFailure(const std::string& line);

// Says something the user should know of a tool that goes on, in one line, the same ways; on
// Windows the launcher then reads it with a failure line that may follow.
void ReportWarning(const std::string& line);

} // namespace tool
