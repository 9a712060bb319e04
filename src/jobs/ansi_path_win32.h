#pragma once

#include <optional>
#include <string>

namespace quorvil {

// Paths the system gives in UTF-16 (the program's own, the user's folders), for the 8-bit calls that
// everything else here makes in the system's code page.

// The path itself when the code page can write it; else its short name (8.3), which can, where the
// volume keeps short names; nothing when neither names it. The 8-bit calls would turn a letter the
// code page lacks into a look-alike ("Ł" into "L"), a path to nowhere or to another file.
[[nodiscard]] std::optional<std::string> AnsiPath(const std::wstring& path);

// The path in the code page for a message, with "?" for every letter the code page lacks.
[[nodiscard]] std::string ShownPath(const std::wstring& path);

} // namespace quorvil
