#pragma once

#include <cstdint>
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

// What tells one state of a file from another: a file written anew, or changed, has another stamp.
struct FileStamp {
    bool exists = false; // a regular file is there
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // in the platform's finest unit
    std::uint64_t identity = 0; // the file's number on its volume, where the platform gives one cheaply

    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};
[[nodiscard]] FileStamp StampOf(const std::string& path);

// Whether two paths name one existing file or folder, through the same name or another (a link
// or, on Windows, other letter case): a run that converts several entries at once must not
// convert two whose outputs are the same files at the same time.
[[nodiscard]] bool SameFile(const std::string& first, const std::string& second);

// Removes a directory with everything in it; a failure is not an error.
void RemoveTreeQuietly(const std::string& path);

} // namespace quorvil
