#include "stale_report.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>

#include <windows.h>

#include "report_file.h"

void LeaveStaleReport(const std::string& line)
{
    const char* folder = std::getenv(quorvil::kReportFolderVariable);
    FILETIME start;
    FILETIME exit;
    FILETIME kernel;
    FILETIME user;
    if (!folder || !GetProcessTimes(GetCurrentProcess(), &start, &exit, &kernel, &user))
        return;
    // The same id, started a moment before this process: the closest an earlier one can come.
    const std::uint64_t earlier = (static_cast<std::uint64_t>(start.dwHighDateTime) << 32 | start.dwLowDateTime) - 1;
    std::ofstream(std::string(folder) + "\\" + quorvil::ReportFileName(GetCurrentProcessId(), earlier)) << line << '\n';
}
