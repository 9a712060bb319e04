#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace quorvil {

// An error that ends the current command. what() is exactly the text the user will read;
// front ends show it and add nothing but the final full stop rule.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An error whose text a window is told to read as UTF-8. Every text of ours is UTF-8 (on Windows the
// core holds names so); the type tells a window that once read texts in the code page.
class Utf8Error : public Error {
public:
    using Error::Error;
};

// An error in the words the window shows, which do not say what it is about ("I/O error 183",
// "File access denied"), with the same in words that do, for quorvil-split.
class NamedError : public Error {
public:
    NamedError(const std::string& text, std::string named) : Error(text), named_(std::move(named)) {}
    [[nodiscard]] const std::string& Named() const { return named_; }

private:
    std::string named_;
};

// The words of an error that say what it is about: Named() of a NamedError, else its text.
[[nodiscard]] std::string NamedText(const Error& error);

// Rethrows the Error being handled as a NamedError about the output folder it could not make; any
// other exception goes on as it is.
[[noreturn]] void RethrowNamingFolder(const std::string& folder);

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
