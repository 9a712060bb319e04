#include "other_command.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <unistd.h>

#include "tool_report.h"

namespace sox {

int RunOtherCommand(char** argv)
{
    ::execv(QUORVIL_SYSTEM_SOX, argv);
    tool::ReportFailure(std::string("sox: cannot start " QUORVIL_SYSTEM_SOX ": ") + std::strerror(errno));
    return 127;
}

} // namespace sox
