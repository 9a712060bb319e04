#include "raw_command_line.h"

#include <unistd.h>

std::string RawCommandLine()
{
    return {};
}

long OwnProcessId()
{
    return static_cast<long>(::getpid());
}
