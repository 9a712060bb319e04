#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quorvil {

// A path as the standard library's streams open it: on POSIX its bytes; on Windows, where the core
// holds it in UTF-8, in UTF-16 (and behind the long-path prefix where it needs one).
[[nodiscard]] std::filesystem::path StreamPath(const std::string& path);

// Creates exactly one directory level. Throws Error with the I/O error message of the
// Windows code of the failure (183 when it exists already).
void CreateDirectoryLevel(const std::string& path);

// Writes the script's bytes, replacing an existing file. Throws Error with "Cannot create
// file ..." or "Stream write error"; a file it could not finish is removed.
void WriteScriptFile(const std::string& path, const std::string& bytes);

// Deletes a file; a failure (a file that is not there, say) is not an error.
void DeleteFileQuietly(const std::string& path);

// The video tool's script of one entry, written at path and held until the object goes, which removes
// it. On Windows the scripts of every run lie beside the program: a name another run holds is not
// touched (busy() then says why, and the caller tries another name), a file left by a run that ended
// is taken over, and while the object lives no other program can rewrite or delete the script, yet any
// can read it. On POSIX the folder is the run's own, and the name is always taken.
class HeldScript {
public:
    // Throws Error ("Cannot create file ...", "Stream write error") when the script cannot be written.
    HeldScript(std::string path, const std::string& bytes);
    ~HeldScript();
    HeldScript(const HeldScript&) = delete;
    HeldScript& operator=(const HeldScript&) = delete;

    [[nodiscard]] const std::string& path() const { return path_; }
    // Why another run has the name, in the system's words; empty when this object holds it.
    [[nodiscard]] const std::string& busy() const { return busy_; }

private:
    std::string path_;
    std::string busy_;
    std::intptr_t claim_ = -1; // where the platform needs handles held
    std::intptr_t wall_ = -1;
};

// What tells one state of a file from another: a file written anew, or changed, has another stamp.
struct FileStamp {
    bool exists = false; // a regular file is there
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // in the platform's finest unit
    std::uint64_t identity = 0; // the file's number on its volume, where the platform gives one cheaply
    std::uint64_t volume = 0;   // the device or volume that number is on, where it is given
    std::int64_t born = 0;      // when the file was made, where the system tells (else 0)

    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// How a stamped file is known again at a name: by its whole state (the same file, unchanged since),
// or by its birth (the same file, whatever has come of its bytes: a file a run made, which a power
// loss may have emptied, on a volume that may since have another number). Where the system tells no
// birth, a file is known by its state either way.
enum class KnownBy { state, birth };
[[nodiscard]] bool IsStampedFile(const FileStamp& now, const FileStamp& stamp, KnownBy knownBy);
// The file a name leads to, through any link.
[[nodiscard]] FileStamp StampOf(const std::string& path);
// The file at a name itself: a link is not followed, and exists is set only for a regular file.
// Gives the volume and the file's number on every platform.
[[nodiscard]] FileStamp StampAt(const std::string& path);

// What is at a name, a link not followed.
enum class NameHolds { nothing, regularFile, somethingElse };
[[nodiscard]] NameHolds WhatIsAt(const std::string& path);

// Removes the regular file at path only when it is the file stamped (the same file, of the same size
// and time): whatever else has come to that name stays. Empty when it is gone; else why not, in the
// system's words. On POSIX the file is first moved aside, under a hidden name beside it, so that the
// file checked is the file removed; where the file system can neither rename without replacing nor
// link (FAT and exFAT through FUSE), it is checked through an open descriptor and its name removed.
[[nodiscard]] std::string RemoveIfSame(const std::string& path, const FileStamp& stamp,
                                       KnownBy knownBy = KnownBy::state);

// The hidden name beside path under which a removal had put that very file aside when its process
// ended before the file was gone; empty when there is none (always on Windows, which removes a file
// without moving it).
[[nodiscard]] std::string FileAsideOf(const std::string& path, const FileStamp& stamp,
                                      KnownBy knownBy = KnownBy::state);

// A hidden name beside path that no other file has, for a file moved aside (".quorvil-..."): chosen
// before the move, so that a record names it first.
[[nodiscard]] std::string NameAside(const std::string& path);

// Renames a file without ever replacing what is at `to`, also where the file system has neither the
// system's no-replace rename nor links (FAT, exFAT through FUSE: there the name is looked at just
// before). Empty when done; else why not, in the system's words.
[[nodiscard]] std::string MoveNoReplace(const std::string& from, const std::string& to);

// Removes the regular files of a folder (given with its trailing separator, or empty for the
// current one) whose names start with prefix; links, folders and other things stay.
void RemoveFilesStartingWith(const std::string& folder, const std::string& prefix);

// Puts files and folders (given with or without their trailing separator; empty for the current
// one) on disk, their bytes and the names they hold, as a power loss would find them. Empty when
// done; else the first path that could not be, and why, in the system's words. Windows keeps a
// folder's names in its file system's journal: only files are flushed there.
[[nodiscard]] std::string FlushToDisk(const std::vector<std::string>& paths);

// Removes a folder that is empty; one that holds anything stays as it is.
void RemoveEmptyFolder(const std::string& path);

// A source file held from its first check to its removal: opened through any link given as its
// name, found to be a regular file, and locked, so that no other run (another process, or another
// entry of this one) converts it at the same time. The tools may still read it. The lock goes with
// the object.
class SourceFile {
public:
    // Opens and locks the file without blocking; problem() then says why it could not, and nothing
    // was changed. On a volume that folds letter case (FAT, exFAT, NTFS through FUSE), where two
    // names of one file can reach it as two files, the name as the volume folds it is locked too,
    // by a lock file in lockFolder (the user's record folder; none when it is empty).
    explicit SourceFile(std::string path, const std::string& lockFolder = {});
    ~SourceFile();
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    [[nodiscard]] const std::string& problem() const { return problem_; }
    // Whether the problem is that nothing is at the name (nor at a folder on its way).
    [[nodiscard]] bool missing() const { return missing_; }

    // The file as it is now, through the handle held: its name may have gone or lead elsewhere.
    [[nodiscard]] FileStamp Stamp() const;

    // Whether the name still leads to this very file, or to nothing at all, or to another file.
    enum class AtName { same, nothing, other };
    [[nodiscard]] AtName StillAtItsName() const;

    // Whether the file is write-protected: no one may write it (POSIX: no write permission; Windows:
    // the read-only attribute), or the user running us may not. rm asks before removing such a file
    // and Windows refuses: Quorvil keeps it.
    [[nodiscard]] bool WriteProtected() const;

    // Removes the file at the source's name when it is this very file, still as `checked`, and the
    // name is not a link; else the name is left as it was. Empty when the file is gone, or on Windows
    // marked to go when another program that has it open closes it; else why not. The lock ends with it.
    [[nodiscard]] std::string Remove(const FileStamp& checked);

private:
    std::string path_;
    std::intptr_t handle_ = -1;
    std::intptr_t nameLock_ = -1; // the folded name's lock, where one is held
    std::string nameLockPath_;
    std::uint64_t volume_ = 0; // where the platform needs it remembered
    std::string problem_;
    bool missing_ = false;
};

// Whether two paths name one existing file or folder, through the same name or another (a link
// or, on Windows, other letter case): a run that converts several entries at once must not
// convert two whose outputs are the same files at the same time.
[[nodiscard]] bool SameFile(const std::string& first, const std::string& second);

} // namespace quorvil
