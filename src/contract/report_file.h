#pragma once

// Where our tools leave their failure reason for Quorvil's Windows launcher, which starts them
// through the shell and so cannot read their error output. The launcher names a folder in the
// environment variable before it starts a tool; the tool writes its reason to ReportFileName() in
// that folder; the launcher reads and removes the file once the tool has ended. A tool that knows
// nothing of this (the user's own VirtualDub or SoX) leaves no file.
#include <cstdint>
#include <string>

namespace quorvil {

inline constexpr char kReportFolderVariable[] = "QUORVIL_TOOL_REPORTS";

// Process ids are reused, an id with its process's start time (100 ns units, as the system keeps
// it) is not: the launcher can neither take an earlier process's file for this one's nor another
// tool's running at the same time.
[[nodiscard]] std::string ReportFileName(std::uint32_t processId, std::uint64_t startTime);

} // namespace quorvil
