#pragma once

// How our tools tell Quorvil of an output before it has a name. Quorvil keeps a record of what each
// file's conversion has made, for the next run to take back should the run be killed; a tool names
// its outputs itself, so without this a kill in the moment after the naming and before Quorvil has
// recorded the file would leave a file of ours that no record names. Quorvil puts the beginning of a
// record's path in the environment variable before it starts the tools; a tool appends to its own
// record (ToolRecordName()) one line for each output, giving the file's identity and the name it is
// about to take, on disk before it takes it; Quorvil removes that record once it has recorded the
// tool's outputs itself. Our tools make their record as they start, even when they name nothing: a
// record tells Quorvil that what stands at an output's name is its tool's only when the record says
// so. A tool that knows nothing of this (the user's own VirtualDub or SoX) writes none.
//
// Run by Quorvil (the variable is set), our tools never replace a name: Quorvil has moved aside what
// stood at each output's name before, so anything there now is a neighbour's.
#include <cstdint>
#include <string>

namespace quorvil {

inline constexpr char kOutputRecordVariable[] = "QUORVIL_OUTPUT_RECORD";

// The record of the tool with this process id.
[[nodiscard]] inline std::string ToolRecordName(const std::string& prefix, std::uint64_t processId)
{
    return prefix + std::to_string(processId) + ".0";
}

// The record's first line, and the line of one output: its volume, number, size, modification time
// and birth time (0 where the system keeps none) as the system gives them for the file, then its
// name. The number and birth time are what a power loss leaves of a file: its size and time may be
// lost with its bytes. Records of the first form have no birth time.
inline constexpr char kRecordHeader[] = "quorvil entry record 2\n";
inline constexpr char kRecordHeaderWithoutBirth[] = "quorvil entry record 1\n";
[[nodiscard]] inline std::string RecordLine(std::uint64_t volume, std::uint64_t number, std::uint64_t size,
                                            std::int64_t modified, std::int64_t born, const std::string& name)
{
    return "file " + std::to_string(volume) + ' ' + std::to_string(number) + ' ' + std::to_string(size) + ' ' +
           std::to_string(modified) + ' ' + std::to_string(born) + ' ' + std::to_string(name.size()) + ' ' + name +
           '\n';
}

} // namespace quorvil
