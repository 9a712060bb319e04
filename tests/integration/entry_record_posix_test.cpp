// What tells folders apart on POSIX, where a folder's number freed just now is often the next one's.
#include <filesystem>
#include <functional>

#include <sys/stat.h>
#include <unistd.h>

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

// A record as a run killed outright leaves it, of a run whose lock is gone; its path.
std::string DeadRunsRecord(const test::TempDir& records, const std::function<void(EntryRecord&)>& fill)
{
    std::string record;
    {
        EntryRecord made(records.dir(), {"dead"});
        fill(made);
        made.Save();
        record = made.Path();
        fs::rename(record, record + ".kept"); // out of the way of the record's own removal
    }
    fs::rename(record + ".kept", record);
    return record;
}

// Records are trusted as ssh trusts ~/.ssh: a record, or a records folder, that is not the user's
// own, or that others may write, is never acted on, and never holds a run up; the user is told.
TEST(EntryRecordPosix, WhatIsNotTheUsersOwnAloneIsLeftAndTold)
{
    const bool root = ::geteuid() == 0;
    const struct {
        const char* name;
        std::function<void(const std::string& record)> make; // in place of a dead run's record
        bool needsRoot = false;
    } rows[] = {
        {"a pipe named like a record",
         [](const std::string& r) {
             fs::remove(r);
             ASSERT_EQ(::mkfifo(r.c_str(), 0600), 0);
         }},
        {"a link to an endless device",
         [](const std::string& r) {
             fs::remove(r);
             fs::create_symlink("/dev/zero", r);
         }},
        {"a record others can write to",
         [](const std::string& r) { fs::permissions(r, fs::perms::others_write, fs::perm_options::add); }},
        {"a record of another user", [](const std::string& r) { ASSERT_EQ(::chown(r.c_str(), 65534, 65534), 0); },
         true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.needsRoot && !root)
            continue;
        const test::TempDir records;
        const test::TempDir work;
        const std::string output = work / "a.avi.wav";
        test::WriteFile(output, "the user's sound");
        const std::string record =
            DeadRunsRecord(records, [&](EntryRecord& made) { made.File(output, StampAt(output)); });
        row.make(record);
        const std::string warning = TakeBackWhatDeadRunsLeft(records.dir(), {"self"});
        EXPECT_NE(warning.find("1 record in " + records.dir() + " left as found"), std::string::npos) << warning;
        EXPECT_EQ(test::ReadFile(output), "the user's sound");
        EXPECT_TRUE(fs::exists(fs::symlink_status(record)));
    }

    const test::TempDir home;
    const std::string folder = home / "quorvil";
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::group_write | fs::perms::others_write, fs::perm_options::add);
    EXPECT_EQ(PrepareRecordFolder(folder).path, "");
    EXPECT_NE(PrepareRecordFolder(folder).warning.find("is not a folder of yours alone"), std::string::npos);
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace);
    EXPECT_EQ(PrepareRecordFolder(folder).path, folder + "/");
    if (root) {
        ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
        EXPECT_EQ(PrepareRecordFolder(folder).path, "");
    }
}

// A file is removed by moving it aside under a hidden name first; a run killed between the two
// steps leaves it there, where the next run finds it by its identity: a file the entry made goes,
// a source comes back under its name.
TEST(EntryRecordPosix, WhatAKilledRemovalLeftAsideGoesOrComesBack)
{
    for (const bool source : {false, true}) {
        SCOPED_TRACE(source ? "the source" : "a soundtrack");
        const test::TempDir records;
        const test::TempDir work;
        const std::string file = work / "a.avi";
        test::WriteFile(file, "the user's recording");
        (void)DeadRunsRecord(records, [&](EntryRecord& made) {
            if (source)
                made.Source(file, StampAt(file));
            else
                made.File(file, StampAt(file));
        });
        const std::string aside = work / ".quorvil-123-0-0badf00d";
        fs::rename(file, aside);
        test::WriteFile(work / ".quorvil-123-1-0badf00d", "another aside, not ours");
        EXPECT_EQ(TakeBackWhatDeadRunsLeft(records.dir(), {"self"}), "");
        EXPECT_FALSE(fs::exists(aside));
        EXPECT_EQ(fs::exists(file), source);
        EXPECT_TRUE(fs::exists(work / ".quorvil-123-1-0badf00d"));
    }
}

} // namespace
} // namespace quorvil
