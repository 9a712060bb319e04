#include "file_ops.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "errors.h"

namespace quorvil {

namespace {

// The Windows error code of the same meaning, so that messages read as on Windows.
int WindowsCode(int error)
{
    switch (error) {
    case EEXIST:
        return 183; // ERROR_ALREADY_EXISTS
    case ENOENT:
    case ENOTDIR:
        return 3; // ERROR_PATH_NOT_FOUND
    case EACCES:
    case EPERM:
    case EROFS:
        return 5; // ERROR_ACCESS_DENIED
    case EMFILE:
    case ENFILE:
        return 4; // ERROR_TOO_MANY_OPEN_FILES
    case ENOSPC:
        return 112; // ERROR_DISK_FULL
    case ENAMETOOLONG:
        return 206; // ERROR_FILENAME_EXCED_RANGE
    default:
        return error;
    }
}

bool WriteAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

void CreateDirectoryLevel(const std::string& path)
{
    if (::mkdir(path.c_str(), 0777) != 0)
        throw Error(IoErrorMessage(WindowsCode(errno)));
}

void WriteScriptFile(const std::string& path, const std::string& bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        throw Error(CannotCreateFileMessage(path, std::strerror(errno)));
    bool written = WriteAll(fd, bytes);
    written = (::close(fd) == 0) && written;
    if (!written) {
        ::unlink(path.c_str());
        throw Error(kStreamWriteError);
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
    return {true, static_cast<std::uint64_t>(info.st_size),
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
            static_cast<std::uint64_t>(info.st_ino)};
}

bool SameFile(const std::string& first, const std::string& second)
{
    struct stat a {};
    struct stat b {};
    return ::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

void RemoveTreeQuietly(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

} // namespace quorvil
