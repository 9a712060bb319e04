#include "launcher.h"

#include <vector>

namespace quorvil {

std::string LastErrorLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t end = text.size();
    while (end > 0 && lines.size() < 3) {
        const std::size_t start = text.rfind('\n', end - 1);
        const std::size_t from = start == std::string::npos ? 0 : start + 1;
        std::string line = text.substr(from, end - from);
        while (!line.empty() && static_cast<unsigned char>(line.back()) <= ' ')
            line.pop_back();
        if (!line.empty())
            lines.insert(lines.begin(), line);
        if (start == std::string::npos)
            break;
        end = start;
    }
    std::string joined;
    for (const auto& line : lines)
        joined += (joined.empty() ? "" : " / ") + line;
    if (joined.size() > 400)
        joined = "..." + joined.substr(joined.size() - 397);
    return joined;
}

std::string FolderNotFoundDetail(const std::string& folder)
{
    return "the folder it was to run in, " + folder + ", was not found";
}

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
