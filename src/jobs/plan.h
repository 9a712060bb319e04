#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "path_rules.h"
#include "tool_command.h"

namespace quorvil {

// The three results of converting one source file.
struct OutputFiles {
    std::string video;
    std::string left;
    std::string right;
};

// The path as a string of the video tool's script. Doubles every "\" (leaving trail bytes
// of double-byte characters alone) and escapes what could end or break the string: '"' as \",
// line breaks and tabs as \n \r \t, other control characters as \xNN. A Windows path holds none
// of those, so for it only the backslashes change.
[[nodiscard]] std::string EscapeScriptPath(std::string_view text, LeadByteTest isLeadByte = NoLeadBytes);

// The file name: the text after the last separator; all of the path when it has none.
[[nodiscard]] std::string FileNamePart(std::string_view path, const PathRules& rules);

// The directory of a program's full path: up to and including the last separator.
[[nodiscard]] std::string DirectoryPart(std::string_view path, const PathRules& rules);

// The folder an entry's outputs go to when asked for one: path + "_processed".
[[nodiscard]] std::string OutputDirectory(std::string_view path);
// The video tool's soundtrack, which the audio tool splits: path + ".wav".
[[nodiscard]] std::string SoundtrackFile(std::string_view path);

// The video tool's script: temp.vdf in dir for number 0, else temp<number+1>.vdf (temp2.vdf,
// temp3.vdf, ...). Several scripts may share one directory (the program's, on Windows): job slot n of
// a run that converts several entries at once starts at number n, and a script that finds its name
// held by another run takes the next number that is free.
[[nodiscard]] std::string ScriptFile(std::string_view dir, int number = 0);

[[nodiscard]] OutputFiles OutputFilesFor(std::string_view path, bool subdir, const PathRules& rules);

// The six lines of the video tool's script, without line ends.
[[nodiscard]] std::vector<std::string> BuildScriptLines(std::string_view path, bool subdir, const PathRules& rules);

// The bytes of the script file: every line, the last one included, ends in CR LF; no byte-order mark.
[[nodiscard]] std::string ScriptFileBytes(const std::vector<std::string>& lines);

// The video tool, then the audio tool for channel 1 and for channel 2, in the order they run. The
// tools are in dir; the script is ScriptFile(scriptDir, scriptNumber), scriptDir being dir when empty.
[[nodiscard]] std::array<ToolCommand, 3> BuildToolCommands(std::string_view path, std::string_view dir, bool subdir,
                                                           const PathRules& rules, std::string_view scriptDir = {},
                                                           int scriptNumber = 0);

// The soundtrack, the script ScriptFile(dir, scriptNumber) and, when asked to, the source file, in the
// order they are deleted.
[[nodiscard]] std::vector<std::string> ListFilesToDelete(std::string_view path, std::string_view dir,
                                                         bool deleteOriginal, int scriptNumber = 0);

} // namespace quorvil
