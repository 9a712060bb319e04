#pragma once

#include <optional>
#include <string>

#include "errors.h"
#include "wide_text_win32.h"

namespace quorvil {

// Names between UTF-16 and the system's code page, where a code page must be used: the script of a
// user's own video tool, and the command lines of tools that are not ours.

// The name in the code page when it reads back as exactly the same name; nothing when a character
// has no place there. Never a best fit: "ā" would come out as "a", the name of another file, and
// "ж" as a "?" that a wildcard would take for any letter.
[[nodiscard]] std::optional<std::string> CodePageName(const std::wstring& name);

[[nodiscard]] std::wstring FromCodePage(const std::string& text);

} // namespace quorvil
