#include "raw_command_line.h"

std::string RawCommandLine()
{
    return {};
}
