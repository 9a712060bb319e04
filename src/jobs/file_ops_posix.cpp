#include "file_ops.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "errors.h"
#include "errors_posix.h"
#include "handles_posix.h"
#include "rename_posix.h"

namespace quorvil {

namespace {

// Writes every byte; on failure returns the system's error (ENOSPC for a write that took nothing).
int WriteAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return ENOSPC;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

FileStamp StampFrom(const struct stat& info)
{
    return {S_ISREG(info.st_mode), static_cast<std::uint64_t>(info.st_size),
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
            static_cast<std::uint64_t>(info.st_ino), static_cast<std::uint64_t>(info.st_dev)};
}

std::string SystemReason(int error)
{
    return std::strerror(error);
}

constexpr const char* kAsidePrefix = ".quorvil-";

// A name beside path that nobody else uses: the process, a count and a random number.
std::string NameAside(const std::string& path)
{
    static std::atomic<unsigned> count{0};
    thread_local std::mt19937 random{std::random_device{}()};
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    char name[64];
    std::snprintf(name, sizeof name, "%s%ld-%u-%08x", kAsidePrefix, static_cast<long>(::getpid()), count++,
                  static_cast<unsigned>(random()));
    return folder + name;
}

bool SameState(const FileStamp& a, const FileStamp& b)
{
    return a.exists && b.exists && a.volume == b.volume && a.identity == b.identity && a.size == b.size &&
           a.modified == b.modified;
}

} // namespace

bool RenameNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    if (::unlink(from.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        errno = error;
        return false;
    }
    return true;
}

void CreateDirectoryLevel(const std::string& path)
{
    if (::mkdir(path.c_str(), 0777) != 0)
        throw Error(IoErrorMessageOfErrno(errno));
}

void WriteScriptFile(const std::string& path, const std::string& bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        throw Error(CannotCreateFileMessage(path, std::strerror(errno)));
    int error = WriteAll(fd, bytes);
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        ::unlink(path.c_str());
        throw Error(StreamWriteErrorMessage(std::strerror(error)));
    }
}

void DeleteFileQuietly(const std::string& path)
{
    (void)::unlink(path.c_str());
}

FileStamp StampOf(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    return StampFrom(info);
}

FileStamp StampAt(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    return StampFrom(info);
}

NameHolds WhatIsAt(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? NameHolds::nothing : NameHolds::somethingElse;
    return S_ISREG(info.st_mode) ? NameHolds::regularFile : NameHolds::somethingElse;
}

std::string RemoveIfSame(const std::string& path, const FileStamp& stamp)
{
    // Moved aside first: what is checked under a name of our own is what is removed, whatever
    // comes to the old name meanwhile.
    const std::string aside = NameAside(path);
    if (!RenameNoReplace(path, aside)) {
        if (errno != EPERM && errno != EOPNOTSUPP && errno != EINVAL && errno != ENOSYS)
            return SystemReason(errno);
        // Neither way exists here: checked through a descriptor, then the name removed. A file put at
        // the name in the moment between the two would go instead; nothing else can.
        const UniqueFd file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat info {};
        if (file.get() < 0 || ::fstat(file.get(), &info) != 0)
            return SystemReason(errno);
        if (!S_ISREG(info.st_mode) || !SameState(StampFrom(info), stamp))
            return "the file at its name is no longer the one Quorvil checked";
        return ::unlink(path.c_str()) == 0 ? std::string() : SystemReason(errno);
    }
    std::string why;
    if (!SameState(StampAt(aside), stamp))
        why = "the file at its name is no longer the one Quorvil checked";
    else if (::unlink(aside.c_str()) == 0)
        return {};
    else
        why = SystemReason(errno);
    if (!RenameNoReplace(aside, path))
        why += "; it is now named " + aside;
    return why;
}

std::string FileAsideOf(const std::string& path, const FileStamp& stamp)
{
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const UniqueDir dir(::opendir(folder.empty() ? "." : folder.c_str()));
    if (!dir)
        return {};
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        struct stat info {};
        if (name.starts_with(kAsidePrefix) &&
            ::fstatat(::dirfd(dir.get()), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
            SameState(StampFrom(info), stamp))
            return folder + name;
    }
    return {};
}

void RemoveFilesStartingWith(const std::string& folder, const std::string& prefix)
{
    const UniqueDir dir(::opendir(folder.empty() ? "." : folder.c_str()));
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        struct stat info {};
        if (name.starts_with(prefix) && ::fstatat(::dirfd(dir.get()), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode))
            (void)::unlinkat(::dirfd(dir.get()), name.c_str(), 0);
    }
}

std::string FlushToDisk(const std::vector<std::string>& paths)
{
    for (const std::string& path : paths) {
        // A file or a folder alike: fsync of a folder puts the names in it on disk.
        const UniqueFd file(::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (file.get() < 0 || ::fsync(file.get()) != 0)
            return path + ": " + SystemReason(errno);
    }
    return {};
}

void RemoveEmptyFolder(const std::string& path)
{
    (void)::rmdir(path.c_str());
}

SourceFile::SourceFile(std::string path) : path_(std::move(path))
{
    // Looked at before it is opened: opening a FIFO or a device can block or do something.
    struct stat info {};
    if (::stat(path_.c_str(), &info) != 0) {
        problem_ = "the source file cannot be opened (" + SystemReason(errno) + ")";
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        problem_ = "the source file is not a regular file";
        return;
    }
    const int flags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = ::open(path_.c_str(), O_RDONLY | flags);
    if (fd < 0) {
        problem_ = "the source file cannot be opened (" + SystemReason(errno) + ")";
        return;
    }
    handle_ = fd;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        problem_ = "the source file is not a regular file";
        return;
    }
    int locked = ::flock(fd, LOCK_EX | LOCK_NB);
    if (locked != 0 && errno == EBADF) {
        // NFS locks a whole file as a write lock, which asks for a descriptor open for writing.
        const int writable = ::open(path_.c_str(), O_RDWR | flags);
        if (writable >= 0) {
            ::close(fd);
            handle_ = fd = writable;
            locked = ::flock(fd, LOCK_EX | LOCK_NB);
        } else {
            errno = EBADF;
        }
    }
    if (locked != 0) {
        problem_ = errno == EWOULDBLOCK ? "the source file is locked: another run of Quorvil is converting it"
                                        : "the source file cannot be locked (" + SystemReason(errno) + ")";
    }
}

SourceFile::~SourceFile()
{
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}

FileStamp SourceFile::Stamp() const
{
    struct stat info {};
    if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &info) != 0)
        return {};
    return StampFrom(info);
}

SourceFile::AtName SourceFile::StillAtItsName() const
{
    struct stat info {};
    if (::stat(path_.c_str(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? AtName::nothing : AtName::other;
    const FileStamp held = Stamp();
    return held.volume == static_cast<std::uint64_t>(info.st_dev) &&
                   held.identity == static_cast<std::uint64_t>(info.st_ino)
               ? AtName::same
               : AtName::other;
}

std::string SourceFile::Remove(const FileStamp& checked)
{
    struct stat info {};
    if (::lstat(path_.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
        return "its name is a link; Quorvil deletes no file through a link";
    std::string why = RemoveIfSame(path_, checked);
    ::close(static_cast<int>(handle_));
    handle_ = -1;
    return why;
}

bool SameFile(const std::string& first, const std::string& second)
{
    struct stat a {};
    struct stat b {};
    return ::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

} // namespace quorvil
