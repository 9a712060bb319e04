#pragma once

#include <string>

namespace quorvil {

// rename() that never replaces what is at `to`; where the file system lacks the flag, a hard link
// refuses an existing name just as well. False with errno set when nothing was renamed.
[[nodiscard]] bool RenameNoReplace(const std::string& from, const std::string& to);

} // namespace quorvil
