#pragma once

#include <string>
#include <string_view>

namespace quorvil {

// On Windows the core and our tools keep every name and every text in UTF-8, which writes any
// UTF-16 name the system gives and reads back as the same name; each call to the system takes it in
// UTF-16 (the *W functions), where no code page can turn a letter into a look-alike.

[[nodiscard]] std::string Utf8(std::wstring_view text);
[[nodiscard]] std::wstring FromUtf8(std::string_view text);

// A path for the system's file calls: in UTF-16 and, when it is longer than those calls take without
// it (MAX_PATH, less room for a file name in a folder being made), whole and behind the \\?\ prefix,
// which lifts the limit. The prefix also ends the system's own tidying of a path ("/" for "\", "."
// and ".." parts taken out, dots and spaces cut off the end), so it is done here first.
[[nodiscard]] std::wstring FilePath(std::string_view path);

} // namespace quorvil
