#include "raw_command_line.h"

#include <windows.h>

std::string RawCommandLine()
{
    return GetCommandLineA();
}

long OwnProcessId()
{
    return static_cast<long>(GetCurrentProcessId());
}
