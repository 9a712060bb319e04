#include "program_arguments.h"

#include <windows.h>

// After windows.h, whose types it uses.
#include <shellapi.h>

#include "wide_text_win32.h"

namespace quorvil {

std::vector<std::string> ProgramArguments(int, char**)
{
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> given;
    for (int i = 1; arguments && i < count; ++i)
        given.push_back(Utf8(arguments[i]));
    LocalFree(arguments);
    return given;
}

} // namespace quorvil
