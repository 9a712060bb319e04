// vdub's read-ahead gives the bytes the file holds at every offset asked, whatever the order of
// the reads, and the end of the file and a failure where they are.
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "read_ahead.h"
#include "test_support.h"

namespace {

using quorvil::test::TempDir;

unsigned char PatternAt(std::int64_t at)
{
    return static_cast<unsigned char>((at * 13 + at / 251) & 0xff);
}

// A file of the pattern, open for reading.
class PatternFile {
public:
    PatternFile(const TempDir& dir, std::int64_t size)
    {
        const std::string path = dir / "source.avi";
        {
            std::ofstream out(path, std::ios::binary);
            for (std::int64_t i = 0; i < size; ++i)
                out.put(static_cast<char>(PatternAt(i)));
        }
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    ~PatternFile() { ::close(fd_); }
    PatternFile(const PatternFile&) = delete;
    PatternFile& operator=(const PatternFile&) = delete;

    // Reads as a tool's file does; from failAt on, the disk fails.
    [[nodiscard]] vdub::ReadAhead::ReadAt Reader(std::int64_t failAt = -1) const
    {
        return [fd = fd_, failAt](void* buffer, std::size_t size, std::int64_t offset) -> long {
            if (failAt >= 0 && offset + static_cast<std::int64_t>(size) > failAt) {
                if (offset >= failAt)
                    return -EIO;
                size = static_cast<std::size_t>(failAt - offset);
            }
            const ssize_t n = ::pread(fd, buffer, size, offset);
            return n < 0 ? -errno : static_cast<long>(n);
        };
    }

private:
    int fd_ = -1;
};

// Reads `size` bytes at `offset` as a demuxer does, on until the end: what was read, or the failure.
long ReadAll(vdub::ReadAhead& ahead, std::vector<unsigned char>& buffer, std::int64_t offset, std::size_t size)
{
    buffer.assign(size, 0);
    std::size_t got = 0;
    while (got < size) {
        const long n = ahead.Read(buffer.data() + got, size - got, offset + static_cast<std::int64_t>(got));
        if (n < 0)
            return n;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<long>(got);
}

TEST(VdubReadAhead, EveryReadGivesTheFilesBytesAtItsOffset)
{
    const TempDir dir;
    constexpr std::int64_t kSize = 3 * 1024 * 1024 + 4321; // blocks of 256 KiB and a part
    const PatternFile file(dir, kSize);
    vdub::ReadAhead ahead(file.Reader());

    struct Read {
        std::int64_t offset;
        std::size_t size;
    };
    // As a demuxer reads: on from where it was, across blocks, back to an earlier place, forward
    // past what was read ahead, into the middle of a block read ahead, over the end and back.
    const Read reads[] = {
        {0, 12},          {12, 65536},      {65548, 300000},     {365548, 1},   {8, 40000},
        {40008, 1 << 20}, {2500000, 70000}, {2570000, 64},       {2000000, 10}, {kSize - 100, 65536},
        {kSize, 65536},   {kSize, 4096},    {kSize + 9999, 100}, {1000, 1000},
    };
    std::vector<unsigned char> buffer;
    for (const Read& read : reads) {
        const long got = ReadAll(ahead, buffer, read.offset, read.size);
        const std::int64_t expected = std::max<std::int64_t>(0, std::min<std::int64_t>(read.size, kSize - read.offset));
        ASSERT_EQ(got, expected) << "read at " << read.offset;
        for (long i = 0; i < got; ++i)
            ASSERT_EQ(buffer[static_cast<std::size_t>(i)], PatternAt(read.offset + i))
                << "byte " << read.offset + i << " of a read at " << read.offset;
    }
}

TEST(VdubReadAhead, TheEndAndAFailureComeWhereTheyAreAndStay)
{
    const TempDir dir;
    std::vector<unsigned char> buffer;
    {
        const PatternFile empty(dir, 0);
        vdub::ReadAhead ahead(empty.Reader());
        EXPECT_EQ(ReadAll(ahead, buffer, 0, 1), 0);
        EXPECT_EQ(ReadAll(ahead, buffer, 0, 1), 0);
    }
    // The disk fails 1 MiB and 5 bytes in: everything before it is read, then the failure, as
    // often as asked; a read elsewhere still works.
    constexpr std::int64_t kFailAt = (1 << 20) + 5;
    const PatternFile file(dir, 2 << 20);
    vdub::ReadAhead ahead(file.Reader(kFailAt));
    EXPECT_EQ(ReadAll(ahead, buffer, 0, kFailAt), kFailAt);
    EXPECT_EQ(buffer.back(), PatternAt(kFailAt - 1));
    EXPECT_EQ(ReadAll(ahead, buffer, kFailAt, 10), -EIO);
    EXPECT_EQ(ReadAll(ahead, buffer, kFailAt, 10), -EIO);
    EXPECT_EQ(ReadAll(ahead, buffer, 100, 10), 10);
    EXPECT_EQ(buffer[0], PatternAt(100));
}

} // namespace
