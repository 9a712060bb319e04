#include "file_ops.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>

#include <fstream>
#include <sstream>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "errors.h"
#include "errors_posix.h"
#include "handles_posix.h"
#include "read_write_all.h"
#include "rename_posix.h"

namespace quorvil {

namespace {

std::int64_t Nanoseconds(const statx_timestamp& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

constexpr unsigned kStampFields = STATX_TYPE | STATX_INO | STATX_SIZE | STATX_MTIME | STATX_BTIME;

FileStamp StampFrom(const struct statx& info)
{
    return {S_ISREG(info.stx_mode),
            info.stx_size,
            Nanoseconds(info.stx_mtime),
            info.stx_ino,
            ::makedev(info.stx_dev_major, info.stx_dev_minor),
            (info.stx_mask & STATX_BTIME) ? Nanoseconds(info.stx_btime) : 0};
}

// The stamp of what is at path (flags: AT_SYMLINK_NOFOLLOW for the name itself), or of an open file
// (path empty); nothing when there is no regular file.
FileStamp StampFrom(int folder, const char* path, int flags)
{
    struct statx info {};
    if (::statx(folder, path, flags | (*path ? 0 : AT_EMPTY_PATH), kStampFields, &info) != 0 || !S_ISREG(info.stx_mode))
        return {};
    return StampFrom(info);
}

std::string SystemReason(int error)
{
    return std::strerror(error);
}

constexpr const char* kAsidePrefix = ".quorvil-";

} // namespace

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

std::string MoveNoReplace(const std::string& from, const std::string& to)
{
    if (RenameNoReplace(from, to))
        return {};
    if (errno != EPERM && errno != EOPNOTSUPP)
        return SystemReason(errno);
    // Neither way exists here: the name is looked at just before the rename.
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0)
        return SystemReason(EEXIST);
    return ::rename(from.c_str(), to.c_str()) == 0 ? std::string() : SystemReason(errno);
}

std::filesystem::path StreamPath(const std::string& path)
{
    return path;
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
    int error = WriteAll(fd, bytes.data(), bytes.size()).error;
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

HeldScript::HeldScript(std::string path, const std::string& bytes) : path_(std::move(path))
{
    WriteScriptFile(path_, bytes); // in the run's own folder, where no other run writes
}

HeldScript::~HeldScript()
{
    DeleteFileQuietly(path_);
}

FileStamp StampOf(const std::string& path)
{
    return StampFrom(AT_FDCWD, path.c_str(), 0);
}

FileStamp StampAt(const std::string& path)
{
    return path.empty() ? FileStamp{} : StampFrom(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW);
}

NameHolds WhatIsAt(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? NameHolds::nothing : NameHolds::somethingElse;
    return S_ISREG(info.st_mode) ? NameHolds::regularFile : NameHolds::somethingElse;
}

std::string RemoveIfSame(const std::string& path, const FileStamp& stamp, KnownBy knownBy)
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
        if (file.get() < 0)
            return SystemReason(errno);
        if (!IsStampedFile(StampFrom(file.get(), "", 0), stamp, knownBy))
            return "the file at its name is no longer the one Quorvil checked";
        return ::unlink(path.c_str()) == 0 ? std::string() : SystemReason(errno);
    }
    std::string why;
    if (!IsStampedFile(StampAt(aside), stamp, knownBy))
        why = "the file at its name is no longer the one Quorvil checked";
    else if (::unlink(aside.c_str()) == 0)
        return {};
    else
        why = SystemReason(errno);
    if (!RenameNoReplace(aside, path))
        why += "; it is now named " + aside;
    return why;
}

std::string FileAsideOf(const std::string& path, const FileStamp& stamp, KnownBy knownBy)
{
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const UniqueDir dir(::opendir(folder.empty() ? "." : folder.c_str()));
    if (!dir)
        return {};
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.starts_with(kAsidePrefix) &&
            IsStampedFile(StampFrom(::dirfd(dir.get()), name.c_str(), AT_SYMLINK_NOFOLLOW), stamp, knownBy))
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

namespace {

// Whether the volume holding path folds letter case in names: FAT, exFAT and NTFS, also served
// through FUSE (fuseblk), where two names of one file may even give two file numbers.
bool FoldsCase(const std::string& path)
{
    struct statfs info {};
    if (::statfs(path.c_str(), &info) != 0)
        return false;
    constexpr long kMsdos = 0x4d44;
    constexpr long kExfat = 0x2011BAB0;
    constexpr long kNtfs = 0x5346544e;
    constexpr long kFuse = 0x65735546;
    switch (static_cast<long>(info.f_type)) {
    case kMsdos:
    case kExfat:
    case kNtfs:
        return true;
    case kFuse:
        break;
    default:
        return false;
    }
    // FUSE also serves sshfs and the like, which do not fold: only a block device's file system does.
    struct stat file {};
    if (::stat(path.c_str(), &file) != 0)
        return false;
    std::ifstream mounts("/proc/self/mountinfo");
    const std::string device = std::to_string(major(file.st_dev)) + ":" + std::to_string(minor(file.st_dev));
    for (std::string line; std::getline(mounts, line);) {
        std::istringstream fields(line);
        std::string id, parent, numbers;
        fields >> id >> parent >> numbers;
        if (numbers != device)
            continue;
        const std::size_t dash = line.find(" - ");
        return dash != std::string::npos && line.compare(dash + 3, 8, "fuseblk ") == 0;
    }
    return false;
}

// The name of the lock file for a source on a volume that folds case: its folder's full path and its
// name as such volumes fold them (ASCII letters; other letters as they are), hashed.
std::string FoldedNameLock(const std::string& path)
{
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real)
        return {};
    std::string name = real;
    std::free(real);
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (const char c : name) {
        hash ^= static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        hash *= 1099511628211ull;
    }
    char text[40];
    std::snprintf(text, sizeof text, "source-%016llx", static_cast<unsigned long long>(hash));
    return text;
}

} // namespace

SourceFile::SourceFile(std::string path, const std::string& lockFolder) : path_(std::move(path))
{
    // Looked at before it is opened: opening a FIFO or a device can block or do something.
    struct stat info {};
    if (::stat(path_.c_str(), &info) != 0) {
        missing_ = errno == ENOENT || errno == ENOTDIR;
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
        return;
    }
    if (lockFolder.empty() || !FoldsCase(path_))
        return;
    const std::string name = FoldedNameLock(path_);
    if (name.empty())
        return;
    // A lock file that is unlinked as it is let go: taken only while the name still leads to it.
    nameLockPath_ = lockFolder + name;
    const int lock = ::open(nameLockPath_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lock < 0) { // as without a record folder: the file's own lock holds what it can
        nameLockPath_.clear();
        return;
    }
    struct stat held {};
    struct stat named {};
    if (::flock(lock, LOCK_EX | LOCK_NB) == 0 && ::fstat(lock, &held) == 0 &&
        ::stat(nameLockPath_.c_str(), &named) == 0 && held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
        nameLock_ = lock;
        return;
    }
    ::close(lock);
    nameLockPath_.clear();
    problem_ = "the source file is locked: another run of Quorvil is converting it";
}

SourceFile::~SourceFile()
{
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
    if (nameLock_ >= 0) {
        ::unlink(nameLockPath_.c_str()); // while still held: no other run takes a lock file on its way out
        ::close(static_cast<int>(nameLock_));
    }
}

FileStamp SourceFile::Stamp() const
{
    return handle_ < 0 ? FileStamp{} : StampFrom(static_cast<int>(handle_), "", 0);
}

bool SourceFile::WriteProtected() const
{
    // As rm tells it: no write permission for us (an immutable file is not refused here: its removal
    // fails with the system's reason), or none for anyone (which binds root too).
    struct stat info {};
    if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &info) != 0)
        return true;
    return (info.st_mode & 0222) == 0 ||
           (::faccessat(AT_FDCWD, path_.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES);
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
