#include "entry_record.h"

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "handles_posix.h"
#include "read_write_all.h"

namespace quorvil {

namespace {

// Records hold a few paths; anything larger is not one of ours.
constexpr off_t kLargestRecord = 1 << 20;

// Of the user running us, and writable by nobody else.
bool OwnAndPrivate(const struct stat& info)
{
    return info.st_uid == ::geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

namespace record_host {

void SetToolEnvironment(const char* name, const std::string& value)
{
    // Set while no tool is being started: a run sets it before its first entry, removes it after its last.
    if (value.empty())
        ::unsetenv(name);
    else
        ::setenv(name, value.c_str(), 1);
}

std::string StateFolder()
{
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        return std::string(state) + "/quorvil/";
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return std::string(home) + "/.local/state/quorvil/";
    return {};
}

bool MakeFolder(const std::string& path)
{
    // Every missing level, private to the user as the base directory rules ask.
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string level = path.substr(0, slash);
        if (!level.empty() && ::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos || slash + 1 == path.size())
            break;
    }
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && ::access(path.c_str(), W_OK | X_OK) == 0;
}

bool Private(const std::string& folder)
{
    struct stat info {};
    const std::string path = folder.size() > 1 && folder.back() == '/' ? folder.substr(0, folder.size() - 1) : folder;
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && OwnAndPrivate(info);
}

std::vector<std::string> NamesIn(const std::string& folder)
{
    std::vector<std::string> names;
    const UniqueDir dir(::opendir(folder.c_str()));
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (std::string_view(entry->d_name) != "." && std::string_view(entry->d_name) != "..")
            names.emplace_back(entry->d_name);
    }
    return names;
}

std::optional<std::string> ReadRecord(const std::string& path)
{
    // Neither a link nor a pipe someone put in a record's place may hold a run up.
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || !OwnAndPrivate(info) ||
        info.st_size > kLargestRecord)
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
    bytes.resize(ReadAll(file.get(), bytes.data(), bytes.size()).done);
    return bytes;
}

bool WriteDurably(const std::string& path, const std::string& bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    const std::size_t done = WriteAll(fd, bytes.data(), bytes.size()).done;
    // On disk before it replaces the old record: after a power loss the record is whole.
    const bool synced = done == bytes.size() && ::fsync(fd) == 0;
    return (::close(fd) == 0) && synced;
}

bool Replace(const std::string& from, const std::string& to)
{
    return ::rename(from.c_str(), to.c_str()) == 0;
}

void RemoveFolderIfSame(const std::string& path, const FolderStamp& stamp)
{
    // rmdir removes only an empty folder, and never what a link leads to. A folder recorded before it
    // was made has no stamp: whatever folder is at its name is the one made.
    const FolderStamp now = FolderStampAt(path);
    if (now.exists && (!stamp.exists || IsStampedFolder(now, stamp)))
        (void)::rmdir(path.c_str());
}

void FlushFolder(const std::string& folder)
{
    const UniqueFd file(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (file.get() >= 0)
        (void)::fsync(file.get());
}

std::intptr_t TakeOwnerLock(const std::string& path)
{
    // Locked before it has its name, so that no run ever finds it free while its owner lives: made
    // under a hidden name (which no run looks at), locked, then renamed.
    const std::size_t slash = path.rfind('/') + 1;
    const std::string hidden = path.substr(0, slash) + "." + path.substr(slash);
    const int fd = ::open(hidden.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::rename(hidden.c_str(), path.c_str()) != 0) {
        ::unlink(hidden.c_str());
        ::close(fd);
        return -1;
    }
    return fd;
}

void LetGoOwnerLock(std::intptr_t handle, const std::string& path)
{
    ::unlink(path.c_str()); // while still held: no run finds it free before it goes
    ::close(static_cast<int>(handle));
}

LockState OwnerLockState(const std::string& path)
{
    // The owner holds it exclusively; runs that look at once may all hold it shared.
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0)
        return errno == ENOENT ? LockState::gone : LockState::held;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return LockState::held; // not a lock of ours: nothing is judged by it
    if (::flock(file.get(), LOCK_SH | LOCK_NB) != 0)
        return LockState::held;
    return LockState::free;
}

} // namespace record_host

} // namespace quorvil
