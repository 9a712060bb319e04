#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvil {

// Windows paths separate with "\" (a ":" also ends a directory part); POSIX paths with "/".
enum class PathStyle { windows, posix };

// Whether a byte opens a double-byte character in the system's 8-bit code page. The byte after
// such a lead byte is never a separator and never escaped, even when it is 0x5C ("\").
using LeadByteTest = bool (*)(unsigned char);
[[nodiscard]] inline bool NoLeadBytes(unsigned char) noexcept
{
    return false;
}

struct PathRules {
    PathStyle style = PathStyle::posix;
    LeadByteTest isLeadByte = NoLeadBytes;
};

// Windows show commands, the values the launcher passes on.
inline constexpr std::uint16_t SW_HIDE_VALUE = 0;
inline constexpr std::uint16_t SW_SHOWNORMAL_VALUE = 1;

// One run of an external program, as LaunchTool takes it.
struct ToolCommand {
    std::string verb;
    std::string programFile;
    std::string parameters;
    std::string directory; // empty: the caller's own
    std::uint16_t showMode = SW_SHOWNORMAL_VALUE;
    bool wait = true;

    friend bool operator==(const ToolCommand&, const ToolCommand&) = default;
};

// The three results of converting one source file.
struct OutputFiles {
    std::string video;
    std::string left;
    std::string right;
};

// ESC: the path as a string of the video tool's script. Doubles every "\" (leaving trail bytes
// of double-byte characters alone) and escapes what could end or break the string: '"' as \",
// line breaks and tabs as \n \r \t, other control characters as \xNN. A Windows path holds none
// of those, so for it only the backslashes change.
[[nodiscard]] std::string EscapeScriptPath(std::string_view text, LeadByteTest isLeadByte = NoLeadBytes);

// NAME: the text after the last separator; all of the path when it has none.
[[nodiscard]] std::string FileNamePart(std::string_view path, const PathRules& rules);

// DIR from a program's full path: up to and including the last separator.
[[nodiscard]] std::string DirectoryPart(std::string_view path, const PathRules& rules);

[[nodiscard]] std::string OutputDirectory(std::string_view path); // SUB
[[nodiscard]] std::string ScriptFile(std::string_view dir);       // SCRIPT
[[nodiscard]] std::string SoundtrackFile(std::string_view path);  // WAV

[[nodiscard]] OutputFiles OutputFilesFor(std::string_view path, bool subdir, const PathRules& rules);

// The six lines of the video tool's script, without line ends.
[[nodiscard]] std::vector<std::string> BuildScriptLines(std::string_view path, bool subdir, const PathRules& rules);

// The video tool, then the audio tool for channel 1 and for channel 2, in the order they run.
[[nodiscard]] std::array<ToolCommand, 3> BuildToolCommands(std::string_view path, std::string_view dir, bool subdir,
                                                           const PathRules& rules);

// WAV, SCRIPT and, when asked to, the source file, in the order they are deleted.
[[nodiscard]] std::vector<std::string> ListFilesToDelete(std::string_view path, std::string_view dir,
                                                         bool deleteOriginal);

} // namespace quorvil
