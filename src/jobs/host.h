#pragma once

#include <string>
#include <vector>

#include "path_rules.h"

namespace quorvil {

// Facts about the machine the program runs on.

// The host's path style and the lead-byte test of the names the core holds: none on either, as POSIX
// names are bytes and Windows names are held in UTF-8, where no byte of a letter is a "\\".
[[nodiscard]] PathRules HostPathRules();

// The directory of the running executable, ending with its separator.
[[nodiscard]] std::string ProgramDirectory();

// The bytes of the video tool's script file, from its text. On POSIX the text itself. On Windows,
// where the text is UTF-8: in the system's code page whenever that writes every letter of it, as a
// user's own VirtualDub reads it; else UTF-8 behind a byte-order mark, which our vdub reads.
[[nodiscard]] std::string ScriptBytesFor(const std::string& text);

// Why the tool at `programFile` cannot be given these names, naming the first that does not suit it;
// empty when it can. Only on Windows, and only for a tool that is not ours: such a tool reads its
// command line and script in the system's code page, and opens paths of fewer than MAX_PATH (260)
// characters. Our tools read UTF-16 and long paths, and say so by a mark the build puts in them.
[[nodiscard]] std::string ToolCannotTake(const std::string& programFile, const std::vector<std::string>& names);

// The folder of the script as the video tool at `programFile` is to be told it: the folder itself,
// but on Windows, for a tool that is not ours, its short name (8.3) when the code page cannot write
// its own and the volume keeps one, so that a user's own VirtualDub in such a folder reads it.
[[nodiscard]] std::string ScriptFolderFor(const std::string& programFile, const std::string& folder);

// A path made absolute against the current directory; an absolute path stays as it is.
[[nodiscard]] std::string FullPath(const std::string& path);

} // namespace quorvil
