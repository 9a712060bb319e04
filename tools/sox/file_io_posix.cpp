#include "file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "channel_copy.h"
#include "new_file.h"

namespace sox {

namespace {

class FdFile : public File {
public:
    // Closes the descriptor at the end when it owns it; tells `output` of its writes.
    FdFile(int fd, bool owns, tool::NewFile* output = nullptr) : fd_(fd), owns_(owns), output_(output) {}
    ~FdFile() override
    {
        if (owns_ && fd_ >= 0)
            ::close(fd_);
    }
    std::int64_t Size() override
    {
        struct stat status {};
        return ::fstat(fd_, &status) == 0 ? status.st_size : Failed();
    }

    std::int64_t Seek(std::int64_t offset, int whence) override
    {
        const off_t position = ::lseek(fd_, offset, whence);
        return position >= 0 ? position : Failed();
    }

    std::int64_t Read(void* data, std::int64_t bytes) override
    {
        auto* at = static_cast<char*>(data);
        std::int64_t done = 0;
        while (done < bytes) {
            const ssize_t n = ::read(fd_, at + done, static_cast<std::size_t>(bytes - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return Failed();
            if (n == 0)
                break;
            done += n;
        }
        return done;
    }

    std::int64_t Write(const void* data, std::int64_t bytes) override
    {
        if (output_)
            output_->WillWrite(bytes);
        const auto* at = static_cast<const char*>(data);
        std::int64_t done = 0;
        while (done < bytes) {
            const ssize_t n = ::write(fd_, at + done, static_cast<std::size_t>(bytes - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return Failed();
            done += n;
        }
        return done;
    }

private:
    std::int64_t Failed()
    {
        lastError_ = std::strerror(errno);
        return -1;
    }

    int fd_;
    bool owns_;
    tool::NewFile* output_;
};

} // namespace

std::unique_ptr<File> OpenInput(const std::string& name)
{
    // Without blocking: a FIFO at the name must not hang the tool.
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw Failure("cannot read " + Quoted(name) + ": " + std::strerror(errno));
    auto file = std::make_unique<FdFile>(fd, true);
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        throw Failure("cannot read " + Quoted(name) + ": " + std::strerror(errno));
    if (!S_ISREG(status.st_mode))
        throw Failure("cannot read " + Quoted(name) + ": it is not a regular file");
    return file;
}

std::unique_ptr<File> FileOf(tool::NewFile& file)
{
    return std::make_unique<FdFile>(static_cast<int>(file.handle()), false, &file);
}

void* AllocateChunkMemory(std::size_t bytes)
{
    void* memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (memory == MAP_FAILED)
        throw std::bad_alloc();
    return memory;
}

void FreeChunkMemory(void* memory, std::size_t bytes) noexcept
{
    ::munmap(memory, bytes);
}

} // namespace sox
