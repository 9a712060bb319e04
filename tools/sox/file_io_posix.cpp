#include "file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "channel_copy.h"
#include "new_file.h"
#include "quoted.h"
#include "read_write_all.h"

namespace sox {

using quorvil::Quoted;

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
        return Moved(quorvil::ReadAll(fd_, data, Count(bytes)));
    }

    std::int64_t Write(const void* data, std::int64_t bytes) override
    {
        if (output_)
            output_->WillWrite(bytes);
        return Moved(quorvil::WriteAll(fd_, data, Count(bytes)));
    }

private:
    static std::size_t Count(std::int64_t bytes) { return static_cast<std::size_t>(std::max<std::int64_t>(bytes, 0)); }

    std::int64_t Moved(const quorvil::Transfer& transfer)
    {
        return transfer.error == 0 ? static_cast<std::int64_t>(transfer.done) : Failed(transfer.error);
    }

    std::int64_t Failed(int error = errno)
    {
        lastError_ = std::strerror(error);
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

namespace {

// Chunks of a megabyte or more lie in huge pages where the system has them to spare: one page to
// clear and map where there would be 512.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

bool InHugePages(std::size_t bytes)
{
    return bytes >= kHugePage / 2;
}

std::size_t MappedSize(std::size_t bytes)
{
    return InHugePages(bytes) ? (bytes + kHugePage - 1) / kHugePage * kHugePage : bytes;
}

} // namespace

void* AllocateChunkMemory(std::size_t bytes)
{
    if (!InHugePages(bytes)) {
        void* memory =
            ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (memory == MAP_FAILED)
            throw std::bad_alloc();
        return memory;
    }
    // Room to start on a huge page's boundary; what lies before and after goes back at once.
    const std::size_t size = MappedSize(bytes);
    void* room = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (room == MAP_FAILED)
        throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(room);
    const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start)
        ::munmap(room, aligned - start);
    ::munmap(reinterpret_cast<void*>(aligned + size), start + kHugePage - aligned);
    void* memory = reinterpret_cast<void*>(aligned);
    (void)::madvise(memory, size, MADV_HUGEPAGE);
    // Present at once, in huge pages or, where there are none, in small ones; a kernel without the
    // call leaves them to the first reads.
    (void)::madvise(memory, size, MADV_POPULATE_WRITE);
    return memory;
}

void FreeChunkMemory(void* memory, std::size_t bytes) noexcept
{
    ::munmap(memory, MappedSize(bytes));
}

} // namespace sox
