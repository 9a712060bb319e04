#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test_support.h"

namespace quorvil::test {

void SetEnv(const char* name, const std::string& value)
{
    ::setenv(name, value.c_str(), 1);
}

void UnsetEnv(const char* name)
{
    ::unsetenv(name);
}

std::string NoSuchFileText()
{
    return std::strerror(ENOENT);
}

bool MakeFifo(const std::string& path)
{
    return ::mkfifo(path.c_str(), 0600) == 0;
}

namespace {

// Sets or clears the immutable flag, which only root may change.
bool SetImmutable(const std::string& path, bool on)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return done;
}

std::string FolderOf(const std::string& path)
{
    return std::filesystem::path(path).parent_path().string();
}

} // namespace

bool MakeUndeletable(const std::string& path)
{
    if (::geteuid() == 0)
        return SetImmutable(path, true);
    return ::chmod(FolderOf(path).c_str(), 0555) == 0;
}

void MakeDeletable(const std::string& path)
{
    if (::geteuid() == 0)
        (void)SetImmutable(path, false);
    else
        (void)::chmod(FolderOf(path).c_str(), 0755);
}

} // namespace quorvil::test
