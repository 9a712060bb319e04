#pragma once

#include <string>

namespace quorvil {

// The message of a failed POSIX file call, as the Windows build gives it for the same failure:
// IoErrorMessage of the Windows code of the same meaning ("I/O error 183" for EEXIST). An errno that
// has no such code is told in the system's words ("I/O error: Too many levels of symbolic links"),
// never as a Windows code that it is not.
[[nodiscard]] std::string IoErrorMessageOfErrno(int error);

} // namespace quorvil
