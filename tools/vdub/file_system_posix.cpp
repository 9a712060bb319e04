#include "file_system.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/error.h>
}

#include "read_write_all.h"
#include "script.h"

namespace vdub {

std::string ReadScript(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Failure("cannot read the script \"" + path + "\"");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

InputFile::InputFile(const std::string& path)
{
    // O_NONBLOCK: opening a FIFO for reading would wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        const std::string why = std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        throw Failure("cannot open \"" + path + "\": " + why);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        throw Failure("cannot open \"" + path + "\": it is not a regular file");
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

int WriteAll(std::intptr_t handle, const void* data, std::size_t size)
{
    const quorvil::Transfer written = quorvil::WriteAll(handle, data, size);
    return written.done == size ? 0 : AVERROR(written.error);
}

std::int64_t SeekFile(std::intptr_t handle, std::int64_t offset, int whence)
{
    const off_t position = ::lseek(static_cast<int>(handle), offset, whence);
    return position < 0 ? AVERROR(errno) : position;
}

} // namespace vdub
