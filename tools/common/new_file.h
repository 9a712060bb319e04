#pragma once

// How our tools create their outputs and end. Every file a tool makes is its own from the first
// moment: created exclusively, never through a link or over a file someone else put at the name,
// so a neighbour in a shared folder cannot redirect a write. Until it is complete it has no name
// where the system allows that (Linux O_TMPFILE), so a killed tool leaves nothing; elsewhere it is
// written under a temporary name beside its target, PREFIX<process id>-<n>SUFFIX, which the tool
// removes on any failure and on a signal that ends it (and which Quorvil removes after a tool it
// had to kill), and which the system removes on Windows however the tool ends.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "quoted.h"

namespace tool {

// A failure of a tool's file operation: the one line (after the tool's name) it prints.
class FileFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class NewFile {
public:
    // Creates the file for `target` (read and write). Throws FileFailure ("cannot write "TARGET": why").
    NewFile(std::string target, const char* prefix, const char* suffix);
    ~NewFile();
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    // The open file: a file descriptor on POSIX, a HANDLE on Windows; valid until Commit().
    [[nodiscard]] std::intptr_t handle() const { return handle_; }
    [[nodiscard]] const std::string& target() const { return target_; }

    // Says that `bytes` are about to be written at the file's position. A large file gets its
    // space reserved ahead of the writes, a step at a time: the file system then allocates in long
    // runs rather than page by page (on ext4 a third less time for a large soundtrack). Only a hint:
    // where the system cannot reserve, or free space runs low, the writes go on as they would.
    void WillWrite(std::int64_t bytes);

    // Gives the complete file its target's name and closes it. Space reserved beyond its end is given
    // back first. A file that was at the name when this object was made is replaced (never written
    // through); a name taken since (by a user's own program writing there meanwhile) is not: it
    // stays as it is and FileFailure says so. Run by Quorvil, no name is replaced. Throws FileFailure.
    void Commit();
    // Removes the committed file again, when a sibling output could not be completed.
    void Withdraw();

private:
    std::string target_;
    std::string prefix_;
    std::string suffix_;
    std::string temporary_; // its temporary name; empty while it has none
    std::intptr_t handle_ = -1;
    int slot_ = -1; // where a signal handler finds the temporary name
    bool committed_ = false;
    std::int64_t reserved_ = 0; // bytes from the start whose space is reserved
    bool reserving_ = true;
    // What was at the target's name as the tool began: the only file Commit may replace.
    struct Identity {
        bool exists = false;
        std::uint64_t volume = 0;
        std::uint64_t number = 0;
        // A number freed just now is often the next file's: these tell the two apart (where given).
        std::int64_t changed = 0;
        std::uint64_t generation = 0;
        friend bool operator==(const Identity&, const Identity&) = default;
    };
    Identity before_;
    std::intptr_t folder_ = -1; // the target's folder, held open where the platform allows it
    void Create();
    [[nodiscard]] Identity TargetIdentity() const;
    [[nodiscard]] FileFailure NameTaken() const;
    // Tells Quorvil of the complete file before it takes its name (output_record.h).
    void RecordBeforeNaming() const;

    void Close();
    [[nodiscard]] std::string TemporaryName(unsigned attempt) const;
};

inline FileFailure NewFile::NameTaken() const
{
    return FileFailure("cannot write " + quorvil::Quoted(target_) +
                       ": another program made a file of that name meanwhile, which is left as it is");
}

// Run by Quorvil, makes the tool's record of its outputs (output_record.h) at once, so that Quorvil
// knows the tool as one of ours that names each output it makes there. Call at the start.
void StartOutputRecord();

// Makes the signals that end a tool from outside (SIGINT, SIGTERM, SIGHUP; on Windows Ctrl+C)
// remove the temporary files first, and ends the tool with its parent (Linux: SIGTERM when the
// parent dies, as when Quorvil is killed; on Windows Quorvil's job object does it). Call first.
void EndCleanlyWithParent();

} // namespace tool
