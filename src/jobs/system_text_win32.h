#pragma once

#include <string>

#include <windows.h>

namespace quorvil {

// The system's text for a Windows error code, as FormatMessageA gives it.
[[nodiscard]] std::string SystemText(DWORD code);

} // namespace quorvil
