#pragma once

#include <string>
#include <vector>

#include "plan.h"

namespace quorvil {

// The host's path style and the lead-byte test of its 8-bit code page.
[[nodiscard]] PathRules HostPathRules();

// DIR: the directory of the running executable, ending with its separator.
[[nodiscard]] std::string ProgramDirectory();

// A path made absolute against the current directory; an absolute path stays as it is.
[[nodiscard]] std::string FullPath(const std::string& path);

// Creates exactly one directory level. Throws Error with the I/O error message of the
// Windows code of the failure (183 when it exists already).
void CreateDirectoryLevel(const std::string& path);

// Writes 8-bit lines, each ending in CR LF, replacing an existing file. Throws Error with
// "Cannot create file ..." or "Stream write error"; a file it could not finish is removed.
void WriteScriptFile(const std::string& path, const std::vector<std::string>& lines);

// Deletes a file; a failure (a file that is not there, say) is not an error.
void DeleteFileQuietly(const std::string& path);

// Whether path is a file with at least one byte in it.
[[nodiscard]] bool FileHasContent(const std::string& path);

} // namespace quorvil
