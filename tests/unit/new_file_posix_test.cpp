// Our tools' new files reserve space ahead of a large file's writes: the file that takes its name
// holds exactly what was written and no reserved space, and near a full disk nothing is reserved
// that another output still needs.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "new_file.h"
#include "test_support.h"

// How this program's fallocate behaves: as the system's, refused by a file system that cannot,
// or reserving half of what it is asked for and then failing, as a quota lets part of a step through.
enum class Reserve { AsTheSystem, Unsupported, HalfThenQuota };
Reserve reserveMode = Reserve::AsTheSystem;

// Takes the place of the C library's for the tools' code linked into this program.
extern "C" int fallocate(int fd, int mode, off_t offset, off_t length)
{
    switch (reserveMode) {
    case Reserve::Unsupported:
        errno = EOPNOTSUPP;
        return -1;
    case Reserve::HalfThenQuota:
        if (::syscall(SYS_fallocate, fd, mode, offset, length / 2) != 0)
            return -1;
        errno = EDQUOT;
        return -1;
    case Reserve::AsTheSystem:
        break;
    }
    return static_cast<int>(::syscall(SYS_fallocate, fd, mode, offset, length));
}

namespace {

using quorvil::test::TempDir;

constexpr std::int64_t kMiB = std::int64_t{1} << 20;

unsigned char PatternAt(std::int64_t at)
{
    return static_cast<unsigned char>((at * 7 + at / 4096) & 0xff);
}

// Writes the pattern on from the file's current length up to `end`, in pieces of at most 1 MiB,
// each announced first; false (with errno) when a write fails.
bool WriteUpTo(tool::NewFile& file, std::int64_t& written, std::int64_t end)
{
    std::vector<unsigned char> piece;
    while (written < end) {
        const std::int64_t n = std::min(kMiB, end - written);
        piece.resize(static_cast<std::size_t>(n));
        for (std::int64_t i = 0; i < n; ++i)
            piece[static_cast<std::size_t>(i)] = PatternAt(written + i);
        file.WillWrite(n);
        if (::write(static_cast<int>(file.handle()), piece.data(), piece.size()) != n)
            return false;
        written += n;
    }
    return true;
}

std::int64_t Allocated(int fd)
{
    struct stat status {};
    return ::fstat(fd, &status) == 0 ? std::int64_t{status.st_blocks} * 512 : -1;
}

// Where the folder's file system can reserve space at all.
bool CanReserve(const std::string& folder)
{
    const std::string probe = folder + "/probe";
    const int fd = ::open(probe.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    const bool can = fd >= 0 && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, kMiB) == 0;
    if (fd >= 0)
        ::close(fd);
    ::unlink(probe.c_str());
    return can;
}

std::string Q(const std::string& path)
{
    return "'" + path + "'";
}

TEST(ToolNewFile, ACommittedFileHoldsWhatWasWrittenAndNoReservedSpace)
{
    const TempDir dir;
    const bool reserves = CanReserve(dir.path().string());
    // Below the size where reserving begins, across a step, and ending just past one.
    for (const std::int64_t size : {3 * kMiB + 5, 20 * kMiB + 3, 37 * kMiB + 1}) {
        const std::string target = dir / ("out-" + std::to_string(size));
        tool::NewFile file(target, ".t-", ".tmp");
        const int fd = static_cast<int>(file.handle());
        std::int64_t written = 0;
        ASSERT_TRUE(WriteUpTo(file, written, size)) << std::strerror(errno);
        if (reserves && size > 8 * kMiB) {
            EXPECT_GT(Allocated(fd), size + 8 * kMiB) << size << ": nothing was reserved ahead";
        }
        file.Commit();

        struct stat status {};
        ASSERT_EQ(::stat(target.c_str(), &status), 0);
        EXPECT_EQ(status.st_size, size);
        EXPECT_LT(std::int64_t{status.st_blocks} * 512, size + kMiB) << size << ": reserved space was kept";
        std::ifstream in(target, std::ios::binary);
        std::vector<char> back(static_cast<std::size_t>(size));
        in.read(back.data(), static_cast<std::streamsize>(back.size()));
        ASSERT_EQ(in.gcount(), size);
        std::int64_t wrong = 0;
        for (std::int64_t i = 0; i < size; ++i)
            wrong += static_cast<unsigned char>(back[static_cast<std::size_t>(i)]) != PatternAt(i);
        EXPECT_EQ(wrong, 0) << size;
    }
}

// A file system that cannot reserve, and a step of which a quota let half through: the file is
// written all the same, and what the failed step took is given back at once, not at the end.
TEST(ToolNewFile, AReservationThatFailsLeavesTheWritesAsTheyWouldBe)
{
    const TempDir dir;
    if (!CanReserve(dir.path().string()))
        GTEST_SKIP() << "the test folder's file system cannot reserve space";
    for (const Reserve mode : {Reserve::Unsupported, Reserve::HalfThenQuota}) {
        const std::string target = dir / ("out-" + std::to_string(static_cast<int>(mode)));
        tool::NewFile file(target, ".t-", ".tmp");
        const int fd = static_cast<int>(file.handle());
        std::int64_t written = 0;
        reserveMode = mode;
        const bool wrote = WriteUpTo(file, written, 6 * kMiB); // past where reserving begins
        reserveMode = Reserve::AsTheSystem;
        ASSERT_TRUE(wrote) << std::strerror(errno);
        EXPECT_LT(Allocated(fd), 7 * kMiB) << static_cast<int>(mode) << ": reserved space is held";
        ASSERT_TRUE(WriteUpTo(file, written, 30 * kMiB)) << std::strerror(errno);
        EXPECT_LT(Allocated(fd), 31 * kMiB) << static_cast<int>(mode) << ": reserving went on after a failure";
        file.Commit();
        struct stat status {};
        ASSERT_EQ(::stat(target.c_str(), &status), 0);
        EXPECT_EQ(status.st_size, 30 * kMiB);
    }
}

// vdub writes its two outputs side by side and names both only at the end: a reservation by the
// one must not make the other run out of room on a disk that holds both.
TEST(ToolNewFile, NearAFullDiskTwoOutputsThatFitBothGetWritten)
{
    const TempDir dir;
    const std::string small = dir / "small";
    std::filesystem::create_directory(small);
    if (std::system(("mount -t tmpfs -o size=48m tmpfs " + Q(small) + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no small file system of our own (not root)";
    {
        tool::NewFile video(small + "/video", ".t-", ".tmp");
        tool::NewFile sound(small + "/sound", ".t-", ".tmp");
        std::int64_t videoWritten = 0;
        std::int64_t soundWritten = 0;
        bool ok = true;
        for (std::int64_t at = kMiB; ok && at <= 30 * kMiB; at += kMiB)
            ok = WriteUpTo(video, videoWritten, at) && WriteUpTo(sound, soundWritten, std::min(at, 15 * kMiB));
        EXPECT_TRUE(ok) << "at " << videoWritten / kMiB << " and " << soundWritten / kMiB
                        << " MiB of 30 and 15 in 48: " << std::strerror(errno);
        if (ok) {
            video.Commit();
            sound.Commit();
        }
    }
    (void)!std::system(("umount " + Q(small)).c_str());
}

// A tool replaces only what stood at its output's name as it began (the core has checked that it may):
// a file a user's own program put there meanwhile stays, and the tool fails.
TEST(ToolNewFile, ANameTakenWhileTheFileIsWrittenIsLeftAsItIs)
{
    const struct {
        const char* name;
        bool before;    // a file at the name as the tool began
        bool meanwhile; // a file put at the name (in place of that one) while it writes
        bool named;
    } rows[] = {{"nothing there", false, false, true},
                {"a file made there meanwhile", false, true, false},
                {"the file found there", true, false, true},
                {"another file in place of the one found there", true, true, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const TempDir dir;
        const std::string target = dir / "clip.avi.wav";
        if (row.before)
            quorvil::test::WriteFile(target, "an earlier output");
        tool::NewFile file(target, ".t-", ".tmp");
        ASSERT_EQ(::write(static_cast<int>(file.handle()), "ours", 4), 4);
        if (row.meanwhile) {
            std::filesystem::remove(target);
            quorvil::test::WriteFile(target, "the user's");
        }
        bool named = true;
        try {
            file.Commit();
        } catch (const tool::FileFailure& failure) {
            named = false;
            EXPECT_NE(std::string(failure.what()).find("another program made a file of that name"), std::string::npos);
        }
        EXPECT_EQ(named, row.named);
        EXPECT_EQ(quorvil::test::ReadFile(target), row.named ? "ours" : "the user's");
    }
}

} // namespace
