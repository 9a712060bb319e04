// What tells folders apart on POSIX, where a folder's number freed just now is often the next one's.
#include <filesystem>

#include <gtest/gtest.h>

#include "entry_record.h"
#include "test_support.h"

namespace quorvil {
namespace {

namespace fs = std::filesystem;

TEST(EntryRecordPosix, AFolderMadeAnewAtOnceUnderTheSameNameIsAnother)
{
    const test::TempDir dir;
    const std::string path = dir / "a.avi_processed";
    for (int i = 0; i < 20; ++i) {
        fs::create_directory(path);
        const FolderStamp made = FolderStampAt(path);
        ASSERT_TRUE(made.exists);
        EXPECT_EQ(FolderStampAt(path), made);
        fs::remove(path);
        fs::create_directory(path);
        EXPECT_NE(FolderStampAt(path), made);
        fs::remove(path);
    }
}

} // namespace
} // namespace quorvil
