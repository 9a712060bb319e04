#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "file_ops.h"
#include "folder_stamp.h"

namespace quorvil {

// A record, kept while an entry runs, of what it has made so far: so that the next run takes back
// what a run killed outright (or a machine that lost its power) left of an entry, and nothing else.

// The run that owns a record, named by the lock it holds (OwnerLock).
struct RecordOwner {
    std::string token; // letters and digits only

    friend bool operator==(const RecordOwner&, const RecordOwner&) = default;
};

// Where a run's entries keep their records, and whose they are; folder empty: nowhere.
struct RecordPlace {
    std::string folder;
    RecordOwner owner;
};

// What tells that a run still runs: a file "owner-TOKEN" in the record folder that the run holds
// locked from its start to its end. The system lets the lock go when the process ends, however it
// ends, and every process that sees the folder sees the lock: one in another PID namespace too, and
// one on another machine where the file system carries locks between machines.
class OwnerLock {
public:
    // Takes a new lock in folder; none is held when folder is empty or the lock cannot be made, and
    // then no record may be kept, as nothing would tell that its run still runs. With
    // removeFolderWhenEmpty the folder goes with the lock when nothing else is in it (a run that
    // starts meanwhile makes it again).
    explicit OwnerLock(const std::string& folder, bool removeFolderWhenEmpty = false);
    ~OwnerLock();
    OwnerLock(const OwnerLock&) = delete;
    OwnerLock& operator=(const OwnerLock&) = delete;

    [[nodiscard]] bool Held() const { return handle_ != -1; }
    [[nodiscard]] const RecordOwner& Owner() const { return owner_; }

private:
    std::string folder_;
    std::string path_;
    RecordOwner owner_;
    std::intptr_t handle_ = -1;
    bool removeFolderWhenEmpty_ = false;
};

// Whether the owner of a record in folder still runs: its lock is held, or cannot be tried.
[[nodiscard]] bool StillRuns(const std::string& folder, const RecordOwner& owner);

// The folder where records are kept, made when missing: the per-user state folder of Quorvil
// ($XDG_STATE_HOME/quorvil or ~/.local/state/quorvil; %LOCALAPPDATA%\Quorvil), or `chosen` when it is
// not empty, with its trailing separator. Records are trusted only in a folder of the user's own that
// nobody else can write to (as ssh treats ~/.ssh): the path is empty when the folder cannot be made
// or is not private, and then no record is read or kept (the run converts as it would without), and
// warning says why when it is not private.
struct RecordFolder {
    std::string path;
    std::string warning;
    bool stateFolder = false; // the user's state folder, which a run leaves only when something is in it
};
[[nodiscard]] RecordFolder PrepareRecordFolder(const std::string& chosen);

// The record of one entry, a file of its own in the record folder whose name tells its owner,
// rewritten whole (a new file, on disk, renamed over the old) at each Save(), so that a reader finds
// the old state or the new one. Every name the entry makes is in it before it exists, and stays until
// the entry is over. A later run takes back what it names while the entry's source is there: the
// files and folders it made, and the user's files it moved aside come back. Once the entry was
// deleting its source and the source is gone, or once the entry is over, what it made is the user's.
// The file goes when the object does: an entry that ended normally has taken back what it was to. A
// record that cannot be written is given up; the entry runs on.
class EntryRecord {
public:
    // Keeps no record when folder is empty.
    EntryRecord(std::string folder, const RecordOwner& owner);
    ~EntryRecord();
    EntryRecord(const EntryRecord&) = delete;
    EntryRecord& operator=(const EntryRecord&) = delete;

    // What the entry made or is done with, noted here and written by Save(): a few writes per entry.
    // The entry's source, as it began: what tells a later run whether the source is still there.
    void Source(const std::string& path, const FileStamp& stamp);
    // A folder the entry is about to make, or has made: named before it exists (removed by a later run
    // when it is empty), stamped once it does (removed when it is empty and still that folder).
    void Folder(const std::string& path);
    // A file the entry made, as stamped: removed by a later run while it is still that very file, by
    // its birth where the system tells it (a power loss may have emptied it).
    void File(const std::string& path, const FileStamp& stamp);
    // A file the entry made for itself alone (the soundtrack, the script): removed in any case. Named
    // without a stamp before it exists (only in a folder of the run's own), it is removed by its name.
    void Scratch(const std::string& path, const FileStamp& stamp);
    // A file of the user's at path, as stamped, about to be moved to aside: put back by a later run
    // unless the entry is over, removed when it is (the entry's output replaced it).
    void Aside(const std::string& path, const std::string& aside, const FileStamp& stamp);
    // The entry is about to delete its source: once the source is gone, its outputs are the user's.
    void Deleting();
    // The entry is over: its outputs are the user's, whatever became of its source.
    void Over();
    // The entry is done with this file or folder: it is kept, or has gone.
    void Forget(const std::string& path);
    // Writes the record. The first save, and one after Deleting() or Over(), is on disk, name and all,
    // before it returns: what the entry does next may rely on it.
    void Save();
    // Removes the record: the entry has ended and taken back what it was to.
    void End();
    // Leaves the record, over, for the next run, which removes it (see TakeBackWhatDeadRunsLeft).
    void Leave();

    // The record's file; empty when none is kept.
    [[nodiscard]] const std::string& Path() const { return path_; }

private:
    enum class Kind { file, scratch, source, folder, aside };
    struct Made {
        Kind kind = Kind::file;
        std::string path;
        FileStamp file;
        FolderStamp dir;
        std::string aside;
    };
    std::string path_;
    std::vector<Made> made_;
    bool deleting_ = false;
    bool over_ = false;
    bool written_ = false;
    bool named_ = false; // the record's name is on disk
};

// Our tools record each output before it takes its name, in a record of their own whose path begins
// with what the environment tells them (output_record.h): so that no moment exists in
// which a named file of ours is in no record. The run tells them for the object's life.
class ToolRecords {
public:
    explicit ToolRecords(const RecordPlace& place);
    ~ToolRecords();
    ToolRecords(const ToolRecords&) = delete;
    ToolRecords& operator=(const ToolRecords&) = delete;
};
// The record a tool of that process id wrote, removed once the entry's own record names its outputs.
void RemoveToolRecord(const RecordPlace& place, std::uint64_t processId);
// What a tool of that process id recorded of its outputs, each name with the file's stamp as the tool
// was about to give it that name; nothing when the tool kept no record (it is not one of ours).
struct ToolOutput {
    std::string path;
    FileStamp stamp;
};
[[nodiscard]] std::optional<std::vector<ToolOutput>> ReadToolRecord(const RecordPlace& place, std::uint64_t processId);

// Takes back what the entries of runs that no longer run have left, as a failed entry takes back
// what it made: each recorded file only while it is the file recorded, each recorded folder only when
// it is then empty and the folder recorded, each file moved aside back to its name; links are never
// followed. What an entry over, or one whose source it deleted, made stays (EntryRecord); but an
// entry over whose outputs lost their bytes to a power loss (the same files, of the time recorded,
// now shorter) is taken back while its source is there. Records of running runs stay,
// and so do records that are not the user's own regular files of a sane size; a warning then says
// so (empty when none was left). Two runs that start at once take each record in turn, never both.
[[nodiscard]] std::string TakeBackWhatDeadRunsLeft(const std::string& folder, const RecordOwner& self);

// The platform's part, used by the above.
namespace record_host {
[[nodiscard]] std::string StateFolder(); // empty when unknown
// Sets a variable of the environment the tools inherit; an empty value removes it.
void SetToolEnvironment(const char* name, const std::string& value);
[[nodiscard]] bool MakeFolder(const std::string& path);
// The folder is a folder (not a link to one) of the user's own that nobody else can write to.
[[nodiscard]] bool Private(const std::string& folder);
[[nodiscard]] std::vector<std::string> NamesIn(const std::string& folder);
// A record's bytes, when it is a regular file of the user's own that nobody else can write to and
// of a sane size, opened without following a link and without waiting on a pipe; nothing otherwise.
[[nodiscard]] std::optional<std::string> ReadRecord(const std::string& path);
[[nodiscard]] bool WriteDurably(const std::string& path, const std::string& bytes);
// Puts `from` in place of `to` in one step: a reader finds the old record or the new one, whole.
[[nodiscard]] bool Replace(const std::string& from, const std::string& to);
// Puts the names in a folder on disk.
void FlushFolder(const std::string& folder);
void RemoveFolderIfSame(const std::string& path, const FolderStamp& stamp);
// An owner's lock file: made at path and held, -1 when it cannot be; let go (and removed).
[[nodiscard]] std::intptr_t TakeOwnerLock(const std::string& path);
void LetGoOwnerLock(std::intptr_t handle, const std::string& path);
// Whether an owner's lock file is held by its owner, free (its owner has ended), or gone.
enum class LockState { held, free, gone };
[[nodiscard]] LockState OwnerLockState(const std::string& path);
} // namespace record_host

} // namespace quorvil
