#pragma once

#include <string>

namespace quorvil {

// The system's words for a Windows error code, in UTF-8, as one line: FormatMessage's text without
// the line end it adds, its full stop kept ("Access is denied."); "System error N" when it has none.
[[nodiscard]] std::string SystemText(unsigned long code);

// The same words as the end of a reason line, without their full stop: "cannot write "x": Access is
// denied".
[[nodiscard]] std::string SystemReason(unsigned long code);

} // namespace quorvil
