#pragma once

// How our tools tell Quorvil of an output before it has a name. Quorvil keeps a record of what each
// file's conversion has made, for the next run to take back should the run be killed; a tool names
// its outputs itself, so without this a kill in the moment after the naming and before Quorvil has
// recorded the file would leave a file of ours that no record names. Quorvil puts the beginning of a
// record's path in the environment variable before it starts the tools; a tool appends to its own
// record (ToolRecordName()) one line for each output, giving the file's identity and the name it is
// about to take, before it takes it; Quorvil removes that record once it has recorded the tool's
// outputs itself. A tool that knows nothing of this (the user's own VirtualDub or SoX) writes none.
#include <cstdint>
#include <string>

namespace quorvil {

inline constexpr char kOutputRecordVariable[] = "QUORVIL_OUTPUT_RECORD";

// The record of the tool with this process id.
[[nodiscard]] inline std::string ToolRecordName(const std::string& prefix, std::uint64_t processId)
{
    return prefix + std::to_string(processId) + ".0";
}

// The record's first line, and the line of one output (its volume, number, size and modification
// time as the system gives them for the file, then its name).
inline constexpr char kRecordHeader[] = "quorvil entry record 1\n";
[[nodiscard]] inline std::string RecordLine(std::uint64_t volume, std::uint64_t number, std::uint64_t size,
                                            std::int64_t modified, const std::string& name)
{
    return "file " + std::to_string(volume) + ' ' + std::to_string(number) + ' ' + std::to_string(size) + ' ' +
           std::to_string(modified) + ' ' + std::to_string(name.size()) + ' ' + name + '\n';
}

} // namespace quorvil
