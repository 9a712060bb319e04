#pragma once

#include <string>

namespace tool {

// The system's words for a Windows error code, without the line end and full stop FormatMessage
// adds: what a tool's one-line reason ends with.
[[nodiscard]] std::string SystemText(unsigned long code);

} // namespace tool
