#include "file_ops.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <limits.h>
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

PathRules HostPathRules()
{
    return {PathStyle::posix, NoLeadBytes};
}

std::string ProgramDirectory()
{
    std::string buffer(PATH_MAX, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size())
        throw Error("Cannot find the program's own directory: " + std::string(std::strerror(errno)));
    buffer.resize(static_cast<std::size_t>(n));
    return DirectoryPart(buffer, HostPathRules());
}

std::string FullPath(const std::string& path)
{
    if (path.starts_with('/'))
        return path;
    std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
    if (!cwd)
        throw Error("Cannot find the current directory: " + std::string(std::strerror(errno)));
    std::string full = cwd.get();
    if (!full.ends_with('/'))
        full += '/';
    return full + path;
}

void CreateDirectoryLevel(const std::string& path)
{
    if (::mkdir(path.c_str(), 0777) != 0)
        throw Error(IoErrorMessage(WindowsCode(errno)));
}

void WriteScriptFile(const std::string& path, const std::vector<std::string>& lines)
{
    std::string bytes;
    for (const auto& line : lines)
        bytes += line + "\r\n";

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

bool FileHasContent(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
}

} // namespace quorvil
