#include "launcher.h"

namespace quorvil {

std::string DescribeEnd(const std::string& tool, std::int32_t result, const ToolEnd& end)
{
    std::string text;
    if (result != -1) {
        text = tool + " ended with exit code " + std::to_string(result);
    } else {
        switch (end.kind) {
        case ToolEnd::Kind::notFound:
            text = tool + " was not found";
            break;
        case ToolEnd::Kind::notStarted:
            text = tool + " could not be started" + (end.detail.empty() ? "" : ": " + end.detail);
            break;
        case ToolEnd::Kind::signalled:
            text = tool + " was ended by signal " + std::to_string(end.number);
            break;
        case ToolEnd::Kind::exited: // exit code -1 on a platform that has such a thing
            text = tool + " ended with exit code -1";
            break;
        case ToolEnd::Kind::unknown:
            text = tool + " could not be started or did not end normally";
            break;
        }
    }
    if (!end.errorTail.empty())
        text += " (" + end.errorTail + ")";
    return text;
}

} // namespace quorvil
