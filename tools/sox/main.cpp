// Our `sox`: the one command form the queue run uses, `sox IN OUT remix N`, done here with large
// reads and writes; every other command line goes to the system's SoX, unchanged, where there is one.
#include <exception>
#include <string>
#include <vector>

#include "channel_copy.h"
#include "new_file.h"
#include "other_command.h"
#include "tool_arguments.h"
#include "tool_report.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments = tool::Arguments(argc, argv);
    const auto copy = sox::ParseChannelCopy(arguments);
    if (!copy)
        return sox::RunOtherCommand(argv);
    // Not before: the system's SoX keeps its own ways.
    tool::EndCleanlyWithParent();
    tool::StartOutputRecord();
    try {
        sox::RunChannelCopy(*copy);
    } catch (const std::exception& failure) { // also running out of memory: the output goes all the same
        tool::ReportFailure(std::string("sox: ") + failure.what());
        return 2;
    }
    return 0;
}
