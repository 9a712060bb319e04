#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "file_ops.h"

namespace quorvil {

// A record, kept while an entry runs, of what it has made so far: so that the next run takes back
// what a run killed outright (or a machine that lost its power) left of an entry, and nothing else.

// The process that owns a record: its machine, its number and when it started, so that a number
// the system has given to another process since is told apart.
struct RecordOwner {
    std::string host; // a digest of the machine's name: a shared home folder holds other machines' records
    long pid = 0;
    std::string start; // letters, digits and dots only

    friend bool operator==(const RecordOwner&, const RecordOwner&) = default;
};
[[nodiscard]] RecordOwner ThisProcess();
// Whether the owner still runs. One on another machine, or one that cannot be told, counts as running.
[[nodiscard]] bool StillRuns(const RecordOwner& owner);

// The folder where records are kept, made when missing: the per-user state folder of Quorvil
// ($XDG_STATE_HOME/quorvil or ~/.local/state/quorvil; %LOCALAPPDATA%\Quorvil), or `chosen` when it is
// not empty. Given with its trailing separator; empty when it cannot be made, and then no record is
// kept: the run converts as it would without.
[[nodiscard]] std::string PrepareRecordFolder(const std::string& chosen);

// A folder as the system tells it from another: its volume and its number there.
struct FolderStamp {
    bool exists = false; // a folder, not a link to one, is there
    std::uint64_t volume = 0;
    std::uint64_t identity = 0;
    // When it was made, and the generation of its number, where the system tells (else 0): a number
    // given anew to a folder made since is then told apart.
    std::int64_t born = 0;
    std::uint64_t generation = 0;

    friend bool operator==(const FolderStamp&, const FolderStamp&) = default;
};
[[nodiscard]] FolderStamp FolderStampAt(const std::string& path);

// The record of one entry, a file of its own in the record folder whose name tells its owner,
// rewritten whole (a new file, on disk, renamed over the old) at each Save(), so that a reader finds
// the old state or the new one. The file goes when the object does: an entry that ended normally has
// taken back what it was to. A record that cannot be written is given up; the entry runs on.
class EntryRecord {
public:
    // Keeps no record when folder is empty.
    explicit EntryRecord(std::string folder, const RecordOwner& owner = ThisProcess());
    ~EntryRecord();
    EntryRecord(const EntryRecord&) = delete;
    EntryRecord& operator=(const EntryRecord&) = delete;

    // What the entry made or is done with, noted here and written by Save(): a few writes per entry.
    // A folder the entry made: removed, if empty, by a later run.
    void Folder(const std::string& path);
    // A file the entry made, as stamped: removed by a later run while it is still that very file.
    void File(const std::string& path, const FileStamp& stamp);
    // The entry is done with this file or folder: it is kept, or has gone.
    void Forget(const std::string& path);
    void Save();
    // Removes the record: the entry has ended and taken back what it was to.
    void End();

    // The record's file; empty when none is kept.
    [[nodiscard]] const std::string& Path() const { return path_; }

private:
    struct Made {
        bool folder = false;
        std::string path;
        FileStamp file;
        FolderStamp dir;
    };
    std::string path_;
    std::vector<Made> made_;
    bool written_ = false;
};

// Takes back what the entries of runs that no longer run have left, as a failed entry takes back
// what it made: each recorded file only while it is the file recorded, each recorded folder only when
// it is then empty and the folder recorded; links are never followed. Records of running processes
// stay. Two runs that start at once take each record in turn, never both.
void TakeBackWhatDeadRunsLeft(const std::string& folder);

// The platform's part, used by the above.
namespace record_host {
[[nodiscard]] std::string StateFolder(); // empty when unknown
[[nodiscard]] bool MakeFolder(const std::string& path);
[[nodiscard]] std::vector<std::string> NamesIn(const std::string& folder);
[[nodiscard]] bool WriteDurably(const std::string& path, const std::string& bytes);
[[nodiscard]] bool Rename(const std::string& from, const std::string& to, bool replace);
void RemoveFolderIfSame(const std::string& path, const FolderStamp& stamp);
[[nodiscard]] std::string HostName();
[[nodiscard]] long ProcessId();
// Empty when there is no such process; "?" when it runs but its start cannot be told.
[[nodiscard]] std::string ProcessStart(long pid);
} // namespace record_host

} // namespace quorvil
