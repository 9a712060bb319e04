#include "report_file.h"

namespace quorvil {

std::string ReportFileName(std::uint32_t processId, std::uint64_t startTime)
{
    return "reason-" + std::to_string(processId) + "-" + std::to_string(startTime) + ".txt";
}

} // namespace quorvil
