// The file operations a conversion's safety rests on, on either platform: the hold on a source, the
// removal of only the file that was checked, the removal of a tool's temporary files.
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>

#include <gtest/gtest.h>

#include "file_ops.h"
#include "host.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;
namespace fs = std::filesystem;

TEST(FileOps, ASourceIsHeldByOneHolderAtATime)
{
    const TempDir dir;
    const std::string a = dir / "a.avi";
    WriteFile(a, "recording");
    {
        const SourceFile first(a);
        EXPECT_EQ(first.problem(), "");
        EXPECT_EQ(first.Stamp(), StampAt(a));
        const SourceFile second(a);
        EXPECT_EQ(second.problem(), "the source file is locked: another run of Quorvil is converting it");
        EXPECT_EQ(ReadFile(a), "recording"); // the tools may still read it
    }
    EXPECT_EQ(SourceFile(a).problem(), "");
    fs::create_directory(dir / "folder.avi");
    EXPECT_EQ(SourceFile(dir / "folder.avi").problem(), "the source file is not a regular file");
}

TEST(FileOps, ASourceIsRemovedOnlyWhenTheFileAtItsNameIsTheOneChecked)
{
    const struct {
        const char* name;
        std::function<void(const std::string&)> change; // between the check and the removal
        bool removed;
        bool heldElsewhere = false; // open in another program that lets others delete it
    } rows[] = {
        {"the file as checked", [](const std::string&) {}, true},
        {"the file as checked, held open elsewhere", [](const std::string&) {}, true, true},
        {"another file moved into its place",
         [](const std::string& a) {
             fs::rename(a, a + ".moved");
             WriteFile(a, "another recording");
         },
         false},
        {"the file grown", [](const std::string& a) { std::ofstream(a, std::ios::app) << " and more"; }, false},
        {"the file removed", [](const std::string& a) { fs::remove(a); }, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        // A file deleted while it is held keeps its name on Windows until the last handle closes.
        if (row.change && std::string(row.name) == "the file removed" && HostPathRules().style != PathStyle::posix)
            continue;
        const TempDir dir;
        const std::string a = dir / "a.avi";
        WriteFile(a, "recording");
        SourceFile source(a);
        ASSERT_EQ(source.problem(), "");
        const FileStamp checked = source.Stamp();
        const std::string before = ReadFile(a);
        row.change(a);
        const bool existed = fs::exists(a);
        const std::string there = ReadFile(a);
        std::optional<SourceFile> elsewhere;
        if (row.heldElsewhere)
            elsewhere.emplace(a);
        const std::string why = source.Remove(checked);
        EXPECT_EQ(why.empty(), row.removed) << why;
        elsewhere.reset();
        EXPECT_EQ(fs::exists(a), existed && !row.removed);
        if (existed && !row.removed) {
            EXPECT_EQ(ReadFile(a), there);
        }
        std::size_t left = 0; // nothing left under another name but what the row made
        for (const auto& entry : fs::directory_iterator(dir.path()))
            left += entry.path().filename().string().starts_with(".quorvil-");
        EXPECT_EQ(left, 0u);
    }
}

TEST(FileOps, AFileIsRemovedOnlyWhenItIsTheOneStamped)
{
    const TempDir dir;
    const std::string out = dir / "a.wav";
    WriteFile(out, "ours");
    const FileStamp ours = StampAt(out);
    fs::remove(out);
    WriteFile(out, "the user's, in its place");
    EXPECT_NE(RemoveIfSame(out, ours), "");
    EXPECT_EQ(ReadFile(out), "the user's, in its place");
    EXPECT_EQ(RemoveIfSame(out, StampAt(out)), "");
    EXPECT_FALSE(fs::exists(out));
}

TEST(FileOps, OnlyRegularFilesOfTheGivenPrefixAreRemovedAsTemporaryFiles)
{
    const TempDir dir;
    for (const char* name : {".vdub-12-0", ".vdub-12-1", ".vdub-123-0", "x.vdub-12-0", ".sox-12-0"})
        WriteFile(dir / name, "x");
    fs::create_directory(dir / ".vdub-12-folder");
    RemoveFilesStartingWith(dir.dir(), ".vdub-12-");
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        left.insert(entry.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{".vdub-123-0", "x.vdub-12-0", ".sox-12-0", ".vdub-12-folder"}));
}

} // namespace
} // namespace quorvil
