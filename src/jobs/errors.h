#pragma once

#include <stdexcept>
#include <string>

namespace quorvil {

// An error that ends the current command. what() is exactly the text the user will read;
// front ends show it and add nothing but the final full stop rule.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The message of an I/O error, chosen by a Windows error code.
[[nodiscard]] std::string IoErrorMessage(int windowsCode);

// "Cannot create file "<path>". <system text>", the system text trimmed of trailing
// spaces, control characters and full stops.
[[nodiscard]] std::string CannotCreateFileMessage(const std::string& path, const std::string& systemText);

[[nodiscard]] std::string ListIndexOutOfBoundsMessage(int index);

inline constexpr const char* kStreamWriteError = "Stream write error";

// kStreamWriteError, with the system's reason after it when one is given: on POSIX, where the
// text is ours, "No space left on device" or "Input/output error" tells the user what to do. The
// Windows build gives none, and keeps the text as the user there has always read it.
[[nodiscard]] std::string StreamWriteErrorMessage(const std::string& systemText = {});

} // namespace quorvil
