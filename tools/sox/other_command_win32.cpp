#include "other_command.h"

#include "tool_report.h"

namespace sox {

int RunOtherCommand(char** /*argv*/)
{
    tool::ReportFailure("sox: this sox copies one channel of a WAV file; for anything else install SoX");
    return 2;
}

} // namespace sox
