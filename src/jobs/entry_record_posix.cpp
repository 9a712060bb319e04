#include "entry_record.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "handles_posix.h"
#include "rename_posix.h"

namespace quorvil {

namespace {

// A file's first line, without its line end; empty when it cannot be read.
std::string FirstLine(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::getline(in, line);
    return line;
}

} // namespace

FolderStamp FolderStampAt(const std::string& path)
{
    const UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.get() < 0)
        return {};
    struct statx info {};
    if (::statx(folder.get(), "", AT_EMPTY_PATH, STATX_TYPE | STATX_INO | STATX_BTIME, &info) != 0 ||
        !S_ISDIR(info.stx_mode))
        return {};
    const std::int64_t born =
        (info.stx_mask & STATX_BTIME)
            ? static_cast<std::int64_t>(info.stx_btime.tv_sec) * 1000000000 + info.stx_btime.tv_nsec
            : 0;
    // Times have the clock's coarse step; the generation (where the file system keeps one) differs anyway.
    unsigned int generation = 0;
    if (::ioctl(folder.get(), FS_IOC_GETVERSION, &generation) != 0)
        generation = 0;
    return {true, ::makedev(info.stx_dev_major, info.stx_dev_minor), static_cast<std::uint64_t>(info.stx_ino), born,
            generation};
}

namespace record_host {

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

std::vector<std::string> NamesIn(const std::string& folder)
{
    std::vector<std::string> names;
    const UniqueDir dir(::opendir(folder.c_str()));
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (entry->d_name[0] != '.')
            names.emplace_back(entry->d_name);
    }
    return names;
}

bool WriteDurably(const std::string& path, const std::string& bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    // On disk before it replaces the old record: after a power loss the record is whole.
    const bool synced = done == bytes.size() && ::fsync(fd) == 0;
    return (::close(fd) == 0) && synced;
}

bool Rename(const std::string& from, const std::string& to, bool replace)
{
    // Of two runs taking one record, only one gets it: the other finds the name taken.
    return replace ? ::rename(from.c_str(), to.c_str()) == 0 : RenameNoReplace(from, to);
}

void RemoveFolderIfSame(const std::string& path, const FolderStamp& stamp)
{
    // rmdir removes only an empty folder, and never what a link leads to.
    if (stamp.exists && FolderStampAt(path) == stamp)
        (void)::rmdir(path.c_str());
}

std::string HostName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

long ProcessId()
{
    return static_cast<long>(::getpid());
}

std::string ProcessStart(long pid)
{
    const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
    std::ifstream in(stat, std::ios::binary);
    if (!in) {
        // A process of ours that is gone leaves no entry; one that cannot be read is not ours to judge.
        struct stat info {};
        return ::stat(("/proc/" + std::to_string(pid)).c_str(), &info) != 0 && errno == ENOENT ? std::string()
                                                                                               : std::string("?");
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // After the command name (which may hold anything) come the state and, as the 20th field after
    // it, the start time in clock ticks after boot.
    std::size_t at = text.rfind(')');
    for (int field = 0; field < 20 && at != std::string::npos; ++field)
        at = text.find(' ', at + 1);
    if (at == std::string::npos)
        return "?";
    const std::string ticks = text.substr(at + 1, text.find(' ', at + 1) - at - 1);
    if (ticks.empty() || ticks.find_first_not_of("0123456789") != std::string::npos)
        return "?";
    // Ticks count from boot: with the boot's own number, a process of an earlier boot is told apart.
    std::string boot;
    for (const char c : FirstLine("/proc/sys/kernel/random/boot_id")) {
        if (std::isxdigit(static_cast<unsigned char>(c)))
            boot += c;
    }
    return boot + "." + ticks;
}

} // namespace record_host

} // namespace quorvil
