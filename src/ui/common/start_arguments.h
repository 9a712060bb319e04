#pragma once

#include <string>
#include <vector>

namespace quorvil {

// What the application's command line asks for: the window with files in its queue ("Open
// with"), or a text printed instead of a window.
struct StartArguments {
    enum class Action { showWindow, printHelp, printVersion, refuse };
    Action action = Action::showWindow;
    std::vector<std::string> files; // as given; the front end makes them absolute
    std::string text;               // what to print for the three other actions
};

// --help and --version print and end; "--" ends the options; any other argument that begins with
// "-" (but "-" alone) is refused with a usage line. arguments excludes the program name.
[[nodiscard]] StartArguments ParseStartArguments(const std::vector<std::string>& arguments);

} // namespace quorvil
