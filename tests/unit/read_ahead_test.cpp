// vdub's read-ahead gives the bytes the file holds at every offset asked, whatever the order of the
// reads, and the end of the file as the end.
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "read_ahead.h"
#include "test_support.h"

namespace {

using quorvil::test::TempDir;

unsigned char PatternAt(std::int64_t at)
{
    return static_cast<unsigned char>((at * 13 + at / 251) & 0xff);
}

std::string WritePattern(const TempDir& dir, std::int64_t size)
{
    const std::string path = dir / "source.avi";
    std::ofstream out(path, std::ios::binary);
    for (std::int64_t i = 0; i < size; ++i)
        out.put(static_cast<char>(PatternAt(i)));
    return path;
}

TEST(VdubReadAhead, EveryReadGivesTheFilesBytesAtItsOffset)
{
    const TempDir dir;
    constexpr std::int64_t kSize = 3 * 1024 * 1024 + 4321; // blocks of 256 KiB and a part
    const std::string path = WritePattern(dir, kSize);
    const vdub::InputFile file(path);
    vdub::ReadAhead ahead(file);

    struct Read {
        std::int64_t offset;
        std::size_t size;
    };
    // As a demuxer reads: on from where it was, across blocks, back to an earlier place, forward
    // past what was read ahead, into the middle of a block read ahead, over the end and back.
    const Read reads[] = {
        {0, 12},          {12, 65536},        {65548, 300000},      {365548, 1},   {8, 40000},
        {40008, 1 << 20}, {2500000, 70000},   {2570000, 64},        {2000000, 10}, {kSize - 100, 65536},
        {kSize, 65536},   {kSize, 4096},      {kSize + 9999, 100},  {1000, 1000},
    };
    std::vector<unsigned char> buffer;
    for (const Read& read : reads) {
        buffer.assign(read.size, 0);
        std::int64_t at = read.offset;
        std::size_t got = 0;
        // Fewer bytes than asked are allowed, never none before the end.
        while (got < read.size) {
            const long n = ahead.ReadAt(buffer.data() + got, read.size - got, at);
            ASSERT_GE(n, 0) << "at " << at;
            if (n == 0)
                break;
            got += static_cast<std::size_t>(n);
            at += n;
        }
        const std::int64_t expected = std::max<std::int64_t>(0, std::min<std::int64_t>(read.size, kSize - read.offset));
        ASSERT_EQ(static_cast<std::int64_t>(got), expected) << "read at " << read.offset;
        for (std::size_t i = 0; i < got; ++i)
            ASSERT_EQ(buffer[i], PatternAt(read.offset + static_cast<std::int64_t>(i)))
                << "byte " << read.offset + static_cast<std::int64_t>(i) << " of a read at " << read.offset;
    }
}

TEST(VdubReadAhead, AnEmptyFileEndsAtOnce)
{
    const TempDir dir;
    const std::string path = WritePattern(dir, 0);
    const vdub::InputFile file(path);
    vdub::ReadAhead ahead(file);
    unsigned char byte = 0;
    EXPECT_EQ(ahead.ReadAt(&byte, 1, 0), 0);
    EXPECT_EQ(ahead.ReadAt(&byte, 1, 0), 0);
}

} // namespace
