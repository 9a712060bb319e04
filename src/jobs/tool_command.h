#pragma once

#include <cstdint>
#include <string>

namespace quorvil {

// The Windows show commands a tool is started with (SW_HIDE, SW_SHOWNORMAL), as their 16-bit values.
enum class ShowMode : std::uint16_t { hidden = 0, normal = 1 };

// One run of an external program, as LaunchTool takes it.
struct ToolCommand {
    std::string verb;
    std::string programFile;
    std::string parameters;
    std::string directory; // empty: the caller's own
    ShowMode showMode = ShowMode::normal;
    bool wait = true;

    friend bool operator==(const ToolCommand&, const ToolCommand&) = default;
};

} // namespace quorvil
