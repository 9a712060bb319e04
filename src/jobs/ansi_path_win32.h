#pragma once

#include <optional>
#include <string>

#include "errors.h"

namespace quorvil {

// Paths the system gives in UTF-16 (the program's own, the user's folders, the names a user hands
// over), for the 8-bit calls that everything else here makes in the system's code page.

// The name in the code page when it reads back as exactly the same name; nothing when a character
// has no place there. Never a best fit: "ā" would come out as "a", the name of another file, and
// "ж" as a "?" that a wildcard would take for any letter.
[[nodiscard]] std::optional<std::string> CodePageName(const std::wstring& name);

// The path itself when the code page can write it; else its short name (8.3), which can, where the
// volume keeps short names; nothing when neither names it. The 8-bit calls would turn a letter the
// code page lacks into a look-alike ("Ł" into "L"), a path to nowhere or to another file.
[[nodiscard]] std::optional<std::string> AnsiPath(const std::wstring& path);

// The path in the code page for a message, with "?" for every letter the code page lacks.
[[nodiscard]] std::string ShownPath(const std::wstring& path);

// Text between UTF-16 and UTF-8 or the code page, for the names the code page cannot write: they
// are shown in UTF-8 on a console, in UTF-16 in a window.
[[nodiscard]] std::string Utf8(const std::wstring& text);
[[nodiscard]] std::wstring FromUtf8(const std::string& text);
[[nodiscard]] std::wstring FromCodePage(const std::string& text);

// "NAME: its name cannot be written in this system's code page; ...", in UTF-8: why a file the user
// named is left alone. Until names stay UTF-16 all the way to the tools, no such file is converted.
[[nodiscard]] std::string NotInCodePage(const std::wstring& name);

// An error whose text is UTF-8 rather than the code page, for names the code page cannot write.
class Utf8Error : public Error {
public:
    using Error::Error;
};

} // namespace quorvil
