#include "tool_arguments.h"

#include <memory>

#include <windows.h>

// After windows.h, whose types it uses.
#include <shellapi.h>

#include "wide_text_win32.h"

namespace tool {

namespace {

struct LocalFreer {
    void operator()(LPWSTR* arguments) const { LocalFree(arguments); }
};

} // namespace

std::vector<std::string> Arguments(int, char**)
{
    int count = 0;
    const std::unique_ptr<LPWSTR, LocalFreer> arguments(CommandLineToArgvW(GetCommandLineW(), &count));
    std::vector<std::string> given;
    for (int i = 1; arguments && i < count; ++i)
        given.push_back(quorvil::Utf8(arguments.get()[i]));
    return given;
}

} // namespace tool
