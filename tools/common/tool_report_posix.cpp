#include "tool_report.h"

#include <unistd.h>

namespace tool {

void ReportFailure(const std::string& line)
{
    // One write, so that the line never mixes with another process's output to the same pipe.
    const std::string text = line + '\n';
    (void)!::write(STDERR_FILENO, text.data(), text.size());
}

void ReportWarning(const std::string& line)
{
    ReportFailure(line);
}

} // namespace tool
