#pragma once

#include <string>

namespace quorvil {

// Creates exactly one directory level. Throws Error with the I/O error message of the
// Windows code of the failure (183 when it exists already).
void CreateDirectoryLevel(const std::string& path);

// Writes the script's bytes, replacing an existing file. Throws Error with "Cannot create
// file ..." or "Stream write error"; a file it could not finish is removed.
void WriteScriptFile(const std::string& path, const std::string& bytes);

// Deletes a file; a failure (a file that is not there, say) is not an error.
void DeleteFileQuietly(const std::string& path);

// Whether path is a file with at least one byte in it.
[[nodiscard]] bool FileHasContent(const std::string& path);

} // namespace quorvil
