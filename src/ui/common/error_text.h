#pragma once

#include <string>
#include <string_view>

namespace quorvil {

// The text of the error box: the message, with a full stop added unless it is empty or its
// last character is a full stop or any character coded at or below it (space, line break,
// ")", ",", "-", "!"...). Bytes above 127 (UTF-8 or a code page's letters) get the full stop.
[[nodiscard]] std::string WithFullStop(std::string_view message);

} // namespace quorvil
