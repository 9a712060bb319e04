#pragma once

#include <string>

namespace quorvil {

// A file name in double quotes, as the tools' failure lines show it.
[[nodiscard]] inline std::string Quoted(const std::string& name)
{
    return '"' + name + '"';
}

} // namespace quorvil
