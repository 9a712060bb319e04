#pragma once

#include <string>

// Leaves `line` where the launcher would find the reason of an earlier process that had this
// process's id (Windows; on POSIX reasons travel through the error output and nothing is left).
void LeaveStaleReport(const std::string& line);
