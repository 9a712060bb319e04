#include "new_file.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "output_record.h"

namespace tool {

namespace {

using quorvil::kOutputRecordVariable;
using quorvil::kRecordHeader;
using quorvil::Quoted;
using quorvil::RecordLine;
using quorvil::ToolRecordName;

// The temporary names in use, where a signal handler can reach them. A name is published (its flag
// set) only once it is completely copied and its file is ours, and unpublished before its buffer
// changes, so the handler never removes half a name or a name that is not ours.
constexpr int kSlots = 4;
constexpr std::size_t kNameSize = 4096;
char pendingNames[kSlots][kNameSize];
volatile std::sig_atomic_t pendingReady[kSlots];
bool slotTaken[kSlots]; // by a NewFile; read outside handlers only

extern "C" void RemovePendingAndExit(int signal)
{
    for (int i = 0; i < kSlots; ++i) {
        if (pendingReady[i])
            ::unlink(pendingNames[i]);
    }
    ::_exit(128 + signal);
}

int TakeSlot()
{
    for (int i = 0; i < kSlots; ++i) {
        if (!slotTaken[i]) {
            slotTaken[i] = true;
            return i;
        }
    }
    return -1;
}

// The fences keep the compiler from moving the copy across the flag's changes.
void Publish(int slot, const std::string& name)
{
    pendingReady[slot] = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::memcpy(pendingNames[slot], name.c_str(), name.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    pendingReady[slot] = 1;
}

void Unpublish(int slot)
{
    pendingReady[slot] = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

// Reserving begins once a file passes kReserveFrom (a small file gains nothing) and keeps
// kReserveStep ahead of the writes. It stops for good where a step would leave the file system less
// than kKeepFree: near a full disk no file holds space that another one needs.
constexpr std::int64_t kReserveFrom = std::int64_t{4} << 20;
constexpr std::int64_t kReserveStep = std::int64_t{16} << 20;
constexpr std::uint64_t kKeepFree = std::uint64_t{256} << 20;

// Cuts a file to its own length, which frees the space reserved beyond it.
bool CutToLength(int fd)
{
    struct stat status {};
    return ::fstat(fd, &status) == 0 && ::ftruncate(fd, status.st_size) == 0;
}

std::string DirectoryOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The last part of a path: its name in its folder.
std::string LeafOf(const std::string& path)
{
    return path.substr(path.find_last_of('/') + 1);
}

std::string ProcName(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

// A file without a name in `directory`, which can be given one later through /proc; -1 where the
// file system or the system cannot (then a temporary name is used).
int CreateUnnamed(int directory)
{
#ifdef O_TMPFILE
    const int fd = ::openat(directory, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd, &opened) == 0 && ::stat(ProcName(fd).c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
        opened.st_ino == named.st_ino)
        return fd;
    ::close(fd);
#else
    (void)directory;
#endif
    return -1;
}

// The record Quorvil asked for (output_record.h), or empty when the tool runs alone.
std::string OutputRecordPath()
{
    const char* prefix = std::getenv(kOutputRecordVariable);
    if (!prefix || !*prefix)
        return {};
    return ToolRecordName(prefix, static_cast<std::uint64_t>(::getpid()));
}

// The folder of path, opened and put on disk: a file made in it keeps its name through a power loss.
void FlushFolderOf(const std::string& path)
{
    const std::string folder = DirectoryOf(path);
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
}

} // namespace

NewFile::Identity NewFile::TargetIdentity() const
{
    const int folder = static_cast<int>(folder_);
    const std::string name = LeafOf(target_);
    struct stat info {};
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return {};
    unsigned long generation = 0; // declared as a long: a FUSE file system may write all of one
    if (S_ISREG(info.st_mode)) {
        const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0) {
            if (::ioctl(fd, FS_IOC_GETVERSION, &generation) != 0)
                generation = 0;
            ::close(fd);
        }
    }
    return {true, static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
            static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec, generation};
}

NewFile::NewFile(std::string target, const char* prefix, const char* suffix)
    : target_(std::move(target)), prefix_(prefix), suffix_(suffix)
{
    // The folder is opened once and every name in it reached from there: a folder put in its place
    // meanwhile (a link into another of the user's folders, say) gets nothing of ours.
    const std::string directory = DirectoryOf(target_);
    const int folder = ::open(directory.empty() ? "." : directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        throw FileFailure("cannot write " + Quoted(target_) + ": " + std::strerror(errno));
    folder_ = folder;
    try {
        Create();
    } catch (...) {
        ::close(folder);
        throw;
    }
}

void NewFile::Create()
{
    const int folder = static_cast<int>(folder_);
    // Run by Quorvil, nothing at the name is ours to replace: what stood there was moved aside.
    before_ = OutputRecordPath().empty() ? TargetIdentity() : Identity{};
    if (const int fd = CreateUnnamed(folder); fd >= 0) {
        handle_ = fd;
        return;
    }
    slot_ = TakeSlot();
    if (slot_ < 0)
        throw FileFailure("cannot write " + Quoted(target_) + ": too many files at once");
    // Names of our own process id cannot be another running tool's; a leftover of an earlier
    // process with our id, or anything else found at a name, is left alone and the next is tried.
    for (unsigned attempt = 0;; ++attempt) {
        const std::string name = TemporaryName(attempt);
        if (name.size() >= kNameSize)
            throw FileFailure("cannot write " + Quoted(target_) + ": " + std::strerror(ENAMETOOLONG));
        const int fd = ::openat(folder, LeafOf(name).c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            handle_ = fd;
            temporary_ = name;
            Publish(slot_, temporary_);
            return;
        }
        if (errno != EEXIST || attempt == 100)
            throw FileFailure("cannot write " + Quoted(target_) + ": " + std::strerror(errno));
    }
}

// The handler loses a name before the name is gone or changes hands: ended in between, the tool
// leaves a file of its own (which Quorvil removes by its name), never removes another's.
NewFile::~NewFile()
{
    Close();
    if (slot_ >= 0)
        Unpublish(slot_);
    if (!committed_ && !temporary_.empty())
        ::unlinkat(static_cast<int>(folder_), LeafOf(temporary_).c_str(), 0);
    if (slot_ >= 0)
        slotTaken[slot_] = false;
    ::close(static_cast<int>(folder_));
}

std::string NewFile::TemporaryName(unsigned attempt) const
{
    return DirectoryOf(target_) + prefix_ + std::to_string(::getpid()) + "-" + std::to_string(attempt) + suffix_;
}

void NewFile::Close()
{
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
    handle_ = -1;
}

void NewFile::WillWrite(std::int64_t bytes)
{
    if (!reserving_ || handle_ < 0)
        return;
    const int fd = static_cast<int>(handle_);
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (at < 0) {
        reserving_ = false;
        return;
    }
    const std::int64_t end = at + bytes;
    if (end <= reserved_ || end < kReserveFrom)
        return;
    const std::int64_t from = reserved_;
    const std::int64_t upTo = end + kReserveStep;
    struct statvfs space {};
    if (::fstatvfs(fd, &space) != 0 || static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize <
                                           static_cast<std::uint64_t>(upTo - from) + kKeepFree) {
        reserving_ = false;
        return;
    }
    // KEEP_SIZE: the file's length stays what was written; Commit gives back what lies beyond it.
    if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, from, upTo - from) == 0) {
        reserved_ = upTo;
        return;
    }
    reserving_ = false;
    if (errno == EOPNOTSUPP || errno == ENOSYS) // nothing reserved: a file system that cannot
        return;
    // A step that failed otherwise (a quota, say) may have reserved part of itself: given back at
    // once, as another output may need it (Commit cuts the file again, and fails if it cannot).
    reserved_ = upTo;
    (void)CutToLength(fd);
}

void NewFile::Commit()
{
    const int folder = static_cast<int>(folder_);
    const auto fail = [this](int error) {
        return FileFailure("cannot write " + Quoted(target_) + ": " + std::strerror(error));
    };
    if (reserved_ > 0) {
        if (!CutToLength(static_cast<int>(handle_)))
            throw fail(errno);
        reserved_ = 0;
    }
    RecordBeforeNaming();
    if (temporary_.empty()) {
        // linkat never follows a link at the new name: one there, or any file, makes it EEXIST.
        if (::linkat(AT_FDCWD, ProcName(static_cast<int>(handle_)).c_str(), folder, LeafOf(target_).c_str(),
                     AT_SYMLINK_FOLLOW) == 0) {
            committed_ = true;
            Close();
            return;
        }
        if (errno != EEXIST)
            throw fail(errno);
        if (!before_.exists || TargetIdentity() != before_)
            throw NameTaken();
        // The file that was at the target's name: the complete file takes a temporary name of its
        // own and then the target's place, as rename replaces a name without writing through it.
        if (slot_ < 0 && (slot_ = TakeSlot()) < 0)
            throw FileFailure("cannot write " + Quoted(target_) + ": too many files at once");
        for (unsigned attempt = 0;; ++attempt) {
            const std::string name = TemporaryName(attempt);
            if (name.size() >= kNameSize)
                throw fail(ENAMETOOLONG);
            if (::linkat(AT_FDCWD, ProcName(static_cast<int>(handle_)).c_str(), folder, LeafOf(name).c_str(),
                         AT_SYMLINK_FOLLOW) == 0) {
                temporary_ = name;
                Publish(slot_, temporary_);
                break;
            }
            if (errno != EEXIST || attempt == 100)
                throw fail(errno);
        }
    }
    if (!before_.exists) {
        // A hard link refuses a name taken meanwhile; where the file system has none (FAT, exFAT),
        // the name is looked at just before the rename.
        if (::linkat(folder, LeafOf(temporary_).c_str(), folder, LeafOf(target_).c_str(), 0) == 0) {
            Unpublish(slot_);
            ::unlinkat(folder, LeafOf(temporary_).c_str(), 0);
            committed_ = true;
            Close();
            return;
        }
        if (errno == EEXIST || TargetIdentity().exists)
            throw NameTaken();
    } else if (TargetIdentity() != before_) {
        throw NameTaken();
    }
    Unpublish(slot_);
    if (::renameat(folder, LeafOf(temporary_).c_str(), folder, LeafOf(target_).c_str()) != 0)
        throw fail(errno);
    committed_ = true;
    Close();
}

void NewFile::RecordBeforeNaming() const
{
    const std::string record = OutputRecordPath();
    struct statx info {};
    if (record.empty() || ::statx(static_cast<int>(handle_), "", AT_EMPTY_PATH,
                                  STATX_INO | STATX_SIZE | STATX_MTIME | STATX_BTIME, &info) != 0)
        return;
    const int fd = ::open(record.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    struct stat recorded {};
    if (fd < 0 || ::fstat(fd, &recorded) != 0) {
        if (fd >= 0)
            ::close(fd);
        return; // Quorvil then learns of the file once the tool has ended, as without a record
    }
    const auto nanoseconds = [](const statx_timestamp& time) {
        return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
    };
    // One write per line: a kill leaves whole lines, or a last line cut short, which a reader drops.
    const std::string line = std::string(recorded.st_size == 0 ? kRecordHeader : "") +
                             RecordLine(::makedev(info.stx_dev_major, info.stx_dev_minor), info.stx_ino, info.stx_size,
                                        nanoseconds(info.stx_mtime),
                                        (info.stx_mask & STATX_BTIME) ? nanoseconds(info.stx_btime) : 0, target_);
    // On disk before the name is: a power loss that keeps the name keeps the line that names it.
    if (::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()))
        (void)::fsync(fd);
    ::close(fd);
    static bool recordNamed = false; // the record's own name on disk, once
    if (!recordNamed) {
        FlushFolderOf(record);
        recordNamed = true;
    }
}

void StartOutputRecord()
{
    const std::string record = OutputRecordPath();
    if (record.empty())
        return;
    const int fd = ::open(record.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    (void)!::write(fd, kRecordHeader, sizeof kRecordHeader - 1);
    ::close(fd);
}

void NewFile::Withdraw()
{
    if (committed_)
        ::unlinkat(static_cast<int>(folder_), LeafOf(target_).c_str(), 0);
}

void EndCleanlyWithParent()
{
    // Read before the death signal is set: a parent that dies in between has changed it.
    const pid_t parent = ::getppid();
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, RemovePendingAndExit);
    // A closed error output (Quorvil gone) fails a write instead of ending the tool uncleaned.
    std::signal(SIGPIPE, SIG_IGN);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent)
        RemovePendingAndExit(SIGTERM);
}

} // namespace tool
