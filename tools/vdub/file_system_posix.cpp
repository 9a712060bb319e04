#include "file_system.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/error.h>
}

#include "script.h"

namespace vdub {

InputFile::InputFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        const std::string why = std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        throw Failure("cannot open \"" + path + "\": " + why);
    }
    handle_ = fd;
    size_ = info.st_size;
}

InputFile::~InputFile()
{
    ::close(static_cast<int>(handle_));
}

long InputFile::ReadAt(void* buffer, std::size_t size, std::int64_t offset) const
{
    ssize_t n;
    do {
        n = ::pread(static_cast<int>(handle_), buffer, size, offset);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? AVERROR(errno) : static_cast<long>(n);
}

std::string FileUrl(const std::string& path)
{
    return "file:" + path;
}

std::string DirectoryPart(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

long ProcessId()
{
    return static_cast<long>(::getpid());
}

bool MoveIntoPlace(const std::string& from, const std::string& to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}

void RemoveFile(const char* path)
{
    ::unlink(path);
}

void HandleEndingSignals(void (*handler)(int))
{
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, handler);
}

} // namespace vdub
