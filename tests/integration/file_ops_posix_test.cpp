// The POSIX file operations: failures read as the Windows codes and texts they stand for.
#include <cstring>
#include <filesystem>

#include <unistd.h>

#include <gtest/gtest.h>

#include "errors.h"
#include "file_ops.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

std::string CreateDirectoryError(const std::string& path)
{
    try {
        CreateDirectoryLevel(path);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

TEST(FileOpsPosix, ADirectoryThatCannotBeMadeGivesTheWindowsCodeOfItsCause)
{
    const TempDir dir;
    fs::create_directory(dir / "exists");
    fs::create_symlink("loop", dir / "loop");
    const struct {
        std::string path;
        std::string message;
    } rows[] = {
        {dir / "new", ""},
        {dir / "exists", "I/O error 183"},              // ERROR_ALREADY_EXISTS
        {dir / "missing/new", "Invalid filename"},      // ERROR_PATH_NOT_FOUND
        {dir / std::string(300, 'n'), "I/O error 206"}, // ERROR_FILENAME_EXCED_RANGE
        {"/sys/quorvil-test", "File access denied"},    // EPERM, even for root
        // No Windows code means this: the system's words, never the errno posing as one.
        {dir / "loop/new", "I/O error: " + std::string(std::strerror(ELOOP))},
    };
    for (const auto& row : rows)
        EXPECT_EQ(CreateDirectoryError(row.path), row.message) << row.path;

    if (::geteuid() != 0) { // root passes permission bits by
        fs::create_directory(dir / "locked");
        fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_EQ(CreateDirectoryError(dir / "locked/new"), "File access denied");
    }
}

TEST(FileOpsPosix, AScriptThatCannotBeWrittenIsReportedAndRemoved)
{
    const TempDir dir;
    // Opening succeeds, writing fails with "no space left": the link stands for a full disk.
    const std::string script = dir / "temp.vdf";
    fs::create_symlink("/dev/full", script);
    try {
        WriteScriptFile(script, "VirtualDub.Close();\r\n");
        FAIL() << "the failed write was not reported";
    } catch (const Error& e) {
        EXPECT_EQ(e.what(), "Stream write error: " + std::string(std::strerror(ENOSPC)));
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(script)));

    try {
        WriteScriptFile(dir / "missing/temp.vdf", "x");
        FAIL() << "the failed creation was not reported";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(),
                     ("Cannot create file \"" + (dir / "missing/temp.vdf") + "\". No such file or directory").c_str());
    }
}

} // namespace
} // namespace quorvil
