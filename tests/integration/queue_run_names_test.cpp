// What an entry meets at the names it reaches (the user's files, links, special files, a second run,
// a source that others move) and leaves as it found them.
#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "errors.h"
#include "file_ops.h"
#include "plan.h"
#include "queue_run.h"
#include "queue_run_fixture.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::ReadFile;
using test::Sep;
using test::WriteFile;
namespace fs = std::filesystem;

TEST_F(QueueRunTest, FilesAtTheOutputsNamesAreBackAfterAFailedEntryAndReplacedByAConvertedOne)
{
    const std::string a = Clip("a.avi");
    window.entries = {a};
    window.subdir = false;
    window.deleteOriginal = true;
    const std::vector<std::string> outputs{a + ".noaudio.avi", a + ".A1.wav", a + ".A2.wav"};
    std::vector<FileStamp> before;
    for (const std::string& output : outputs) {
        WriteFile(output, "the user's own " + output);
        before.push_back(StampAt(output));
    }
    std::set<std::string> names{"a.avi", "a.avi.noaudio.avi", "a.avi.A1.wav", "a.avi.A2.wav", "tools.log"};
    {
        const test::ScopedEnv fail("FAKE_FAIL", "right"); // after the video and the left channel were written
        EXPECT_NE(Run(), "");
    }
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        EXPECT_EQ(ReadFile(outputs[i]), "the user's own " + outputs[i]);
        EXPECT_TRUE(StampAt(outputs[i]) == before[i]) << outputs[i];
    }
    EXPECT_EQ(FolderHolds(clips.path().string()), names);

    EXPECT_EQ(Run(), "");
    for (const std::string& output : outputs)
        EXPECT_NE(ReadFile(output), "the user's own " + output);
    names.erase("a.avi");
    EXPECT_EQ(FolderHolds(clips.path().string()), names); // nothing left aside
}

TEST_F(QueueRunTest, SomethingOfTheUsersAtOneOfOurNamesStopsTheEntryBeforeAnyToolAndStays)
{
    const bool posix = HostPathRules().style == PathStyle::posix;
    const std::string mine = clips / "mine.wav";
    WriteFile(mine, "the user's own");
    const auto folder = [](const std::string& at) { return fs::create_directory(at); };
    const auto link = [&mine](const std::string& at) { return fs::create_symlink(mine, at), true; };
    const auto dangling = [](const std::string& at) { return fs::create_symlink("nowhere", at), true; };
    const auto fifo = [](const std::string& at) { return test::MakeFifo(at); };
    const std::string replace = " is not a regular file; Quorvil will not replace it";
    const struct {
        const char* name;
        const char* suffix;
        std::function<bool(const std::string&)> make;
        std::string reason;
        bool posixOnly = false;
    } rows[] = {
        {"a folder at the left channel's name", ".A1.wav", folder, replace},
        {"a folder at the soundtrack's name", ".wav", folder, " exists; Quorvil will not overwrite it"},
        {"a link to a file of the user's at the video's name", ".noaudio.avi", link, replace, true},
        {"a link that leads nowhere at the right channel's name", ".A2.wav", dangling, replace, true},
        {"a FIFO at the right channel's name", ".A2.wav", fifo, replace, true},
        {"a link at the soundtrack's name", ".wav", link, " exists; Quorvil will not overwrite it", true},
    };
    for (const auto& row : rows) {
        if (row.posixOnly && !posix)
            continue;
        SCOPED_TRACE(row.name);
        const std::string a = Clip("a.avi");
        ASSERT_TRUE(row.make(a + row.suffix));
        const std::set<std::string> before = FolderHolds(clips.path().string());
        window.entries = {a};
        window.subdir = false;
        window.deleteOriginal = true;
        EXPECT_EQ(Run(),
                  "1 file was not converted; its source file was kept:\n" + a + ": " + a + row.suffix + row.reason);
        EXPECT_TRUE(Runs().empty());
        EXPECT_EQ(FolderHolds(clips.path().string()), before);
        EXPECT_EQ(ReadFile(mine), "the user's own");
        fs::remove_all(a + row.suffix);
    }
}

TEST_F(QueueRunTest, AFailedEntryTakesBackOnlyTheFilesItsToolsMadeNeverWhatTookTheirNames)
{
    // After the left channel, something of the user's takes an output's name: a file in place of the
    // video, a link (a folder on Windows) in place of the right channel, which then cannot be written.
    const bool posix = HostPathRules().style == PathStyle::posix;
    const std::string a = Clip("a.avi");
    const std::string mine = clips / "mine.wav";
    WriteFile(mine, "the user's own");
    window.entries = {a};
    window.subdir = false;
    window.deleteOriginal = true;
    int tool = 0;
    launch = [&](const ToolCommand& command, const EventHook& hook, ToolEnd* end) {
        const int code = LaunchTool(command, hook, end);
        if (tool++ == 1) {
            fs::remove(a + ".noaudio.avi");
            WriteFile(a + ".noaudio.avi", "the user's new video");
            if (posix)
                fs::create_symlink(mine, a + ".A2.wav");
            else
                fs::create_directory(a + ".A2.wav");
        }
        return code;
    };
    EXPECT_EQ(Run(), "1 file was not converted; its source file was kept:\n" + a + ": " + a +
                         ".A2.wav is not a regular file; Quorvil will not replace it");
    EXPECT_EQ(Runs().size(), 2u); // the right channel's tool was not started
    EXPECT_EQ(ReadFile(a + ".noaudio.avi"), "the user's new video");
    EXPECT_FALSE(fs::exists(a + ".A1.wav")); // the entry's own
    EXPECT_FALSE(fs::exists(a + ".wav"));
    EXPECT_TRUE(posix ? fs::is_symlink(a + ".A2.wav") : fs::is_directory(a + ".A2.wav"));
    EXPECT_EQ(ReadFile(mine), "the user's own");
    EXPECT_TRUE(fs::exists(a));
}

TEST_F(QueueRunTest, AFailedEntryNeverFollowsALinkInItsFolderNorRemovesWhatItLeadsTo)
{
    // A link to a folder of the user's appears in the entry's output folder while it runs (a junction
    // or folder link on Windows); the entry then fails. The link is not the entry's: it stays, and
    // so does everything it leads to.
    const std::string a = Clip("a.avi");
    const std::string theirs = clips / "theirs";
    fs::create_directory(theirs);
    WriteFile(theirs + Sep() + "recording.wav", "the user's own");
    const std::string link = a + "_processed" + Sep() + "link";
    window.entries = {a};
    window.deleteOriginal = true;
    bool linked = false;
    launch = [&](const ToolCommand& command, const EventHook& hook, ToolEnd* end) {
        const int code = LaunchTool(command, hook, end);
        std::error_code error;
        if (!linked)
            fs::create_directory_symlink(theirs, link, error);
        linked = !error;
        return code;
    };
    const test::ScopedEnv fail("FAKE_FAIL", "right");
    EXPECT_NE(Run().find("not converted"), std::string::npos);
    if (!linked)
        GTEST_SKIP() << "no folder links here";
    EXPECT_EQ(ReadFile(theirs + Sep() + "recording.wav"), "the user's own");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(FolderHolds(a + "_processed"), (std::set<std::string>{"link -> " + theirs}));
    EXPECT_TRUE(fs::exists(a));
}

TEST_F(QueueRunTest, ASourceThatIsNotARegularFileIsRefusedBeforeAnyTool)
{
    const bool posix = HostPathRules().style == PathStyle::posix;
    const std::string notAFile = ": the source file is not a regular file";
    const struct {
        const char* name;
        std::function<bool(const std::string&)> make;
        std::string reason;
    } rows[] = {
        {"a folder", [](const std::string& at) { return fs::create_directory(at); }, notAFile},
        {"a FIFO, which would block the video tool for ever", [](const std::string& at) { return test::MakeFifo(at); },
         notAFile},
        {"a link to a FIFO",
         [this](const std::string& at) {
             return test::MakeFifo(clips / "fifo") && (fs::create_symlink("fifo", at), true);
         },
         notAFile},
        {"nothing at all", [](const std::string&) { return true; }, ": the file is missing"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string a = clips / "a.avi";
        if (!row.make(a)) {
            EXPECT_FALSE(posix) << "could not be made";
            continue;
        }
        const std::set<std::string> before = FolderHolds(clips.path().string());
        window.entries = {a};
        window.deleteOriginal = true;
        // A missing file has no source to keep.
        EXPECT_EQ(Run(), std::string(row.reason == ": the file is missing" ? "1 file was not converted:\n"
                                                                           : "1 file was not converted; its source "
                                                                             "file was kept:\n") +
                             a + row.reason);
        EXPECT_TRUE(Runs().empty());
        EXPECT_EQ(FolderHolds(clips.path().string()), before);
        for (const auto& entry : fs::directory_iterator(clips.path()))
            fs::remove_all(entry.path());
    }
}

TEST_F(QueueRunTest, ASourceGivenThroughALinkIsConvertedAndNeitherTheLinkNorItsFileIsDeleted)
{
    if (HostPathRules().style != PathStyle::posix)
        GTEST_SKIP() << "links are a POSIX matter here";
    const std::string real = Clip("real.avi");
    const std::string a = clips / "a.avi";
    fs::create_symlink("real.avi", a);
    window.entries = {a};
    window.subdir = false;
    window.deleteOriginal = true;
    EXPECT_EQ(Run(), "1 file was converted, but its source file was not deleted:\n" + a +
                         ": its source file could not be deleted: its name is a link; Quorvil deletes no file "
                         "through a link");
    EXPECT_EQ(ReadFile(real), test::AviBytes(1));
    EXPECT_TRUE(fs::is_symlink(a));
    EXPECT_EQ(ReadFile(a + ".noaudio.avi"), "RIFF video");
}

TEST_F(QueueRunTest, ASecondRunOnTheSameFileFailsItsEntryWithoutTouchingAnything)
{
    // Two runs over one file, the outputs beside it and the source deleted: the first one's video
    // tool starts only once the second run has ended, which it does at once, leaving all as it was.
    const std::string a = Clip("a.avi");
    window.entries = {a};
    window.subdir = false;
    window.deleteOriginal = true;
    std::atomic<bool> firstStarted = false;
    std::atomic<bool> secondEnded = false;
    launch = [&](const ToolCommand& command, const EventHook& hook, ToolEnd* end) {
        firstStarted = true;
        (void)test::WaitUntil([&] { return secondEnded.load(); }, std::chrono::seconds(10));
        return LaunchTool(command, hook, end);
    };
    std::string first = "not run";
    std::thread firstRun([&] { first = Run(); });
    ASSERT_TRUE(test::WaitUntil([&] { return firstStarted.load(); }, std::chrono::seconds(10)));

    test::FakeQueue otherWindow = window;
    QueueRunner second({tools.dir(), HostPathRules(), LaunchTool, nullptr, records.dir()});
    std::string secondMessage;
    try {
        second.RunQueue(otherWindow.Access(), {});
    } catch (const Error& e) {
        secondMessage = e.what();
    }
    const std::set<std::string> afterSecond = FolderHolds(clips.path().string());
    secondEnded = true;
    firstRun.join();

    EXPECT_EQ(secondMessage, "1 file was not converted; its source file was kept:\n" + a +
                                 ": the source file is locked: another run of Quorvil is converting it");
    EXPECT_EQ(afterSecond, (std::set<std::string>{"a.avi"}));
    EXPECT_EQ(first, "");
    EXPECT_EQ(Runs().size(), 3u);
    EXPECT_FALSE(fs::exists(a));
    EXPECT_EQ(ReadFile(a + ".noaudio.avi"), "RIFF video");
    EXPECT_EQ(ReadFile(a + ".A1.wav"), test::WavBytes(1, 4));
    EXPECT_EQ(ReadFile(a + ".A2.wav"), test::WavBytes(1, 4));
}

TEST_F(QueueRunTest, ASourceRemovedOrReplacedByOthersDuringItsConversionLeavesItsOutputs)
{
    // The outputs are then all there is of it: they stay when they are complete, and the run says so
    // whether or not the source was to be deleted.
    const struct {
        const char* name;
        std::function<void(const std::string&)> change;
        std::string reason;
    } rows[] = {
        {"moved to another folder",
         [](const std::string& a) {
             fs::create_directory(a + ".elsewhere");
             fs::rename(a, a + ".elsewhere" + Sep() + "a.avi");
         },
         "the source file was removed or moved by someone else during its conversion; the outputs are kept"},
        // A file deleted while it is held keeps its name on Windows until the last handle closes.
        {"removed",
         [](const std::string& a) {
             if (HostPathRules().style == PathStyle::posix)
                 fs::remove(a);
             else
                 fs::rename(a, a + ".gone");
         },
         "the source file was removed or moved by someone else during its conversion; the outputs are kept"},
        {"moved away, another file in its place",
         [](const std::string& a) {
             fs::rename(a, a + ".moved");
             WriteFile(a, "another file");
         },
         "another file took the source file's name during its conversion; the outputs are kept"},
    };
    for (const auto& row : rows) {
        for (const bool deleteOriginal : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (deleteOriginal ? ", to be deleted" : ""));
            const std::string a = Clip("a.avi");
            window.entries = {a};
            window.subdir = false;
            window.deleteOriginal = deleteOriginal;
            int tool = 0;
            launch = [&](const ToolCommand& command, const EventHook& hook, ToolEnd* end) {
                const int code = LaunchTool(command, hook, end);
                if (tool++ == 1)
                    row.change(a);
                return code;
            };
            EXPECT_EQ(Run(), "1 file was converted, but its source file was not deleted:\n" + a + ": " + row.reason);
            EXPECT_EQ(ReadFile(a + ".noaudio.avi"), "RIFF video");
            EXPECT_EQ(ReadFile(a + ".A1.wav"), test::WavBytes(1, 4));
            EXPECT_EQ(ReadFile(a + ".A2.wav"), test::WavBytes(1, 4));
            if (fs::exists(a + ".moved")) {
                EXPECT_EQ(ReadFile(a), "another file");
                EXPECT_EQ(ReadFile(a + ".moved"), test::AviBytes(1));
            }
            for (const auto& entry : fs::directory_iterator(clips.path()))
                fs::remove_all(entry.path());
        }
    }
}

TEST_F(QueueRunTest, TheTemporaryFilesOfAToolThatFailedOrWasEndedGoWithIt)
{
    // The fake tools leave temporary files under the names the real ones use, as a tool killed
    // halfway would; those of another process stay.
    const struct {
        const char* name;
        const char* tool;
        bool interrupt;
    } rows[] = {
        {"the video tool failed", "vdub", false},
        {"the right channel's tool failed", "right", false},
        {"the video tool was ended", "vdub", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const test::ScopedEnv temporary("FAKE_TEMPORARY", row.tool);
        const test::ScopedEnv fail("FAKE_FAIL", row.interrupt ? "" : row.tool);
        const test::ScopedEnv slow("FAKE_SLEEP_MS", row.interrupt ? "20000" : "");
        const std::string a = Clip("a.avi");
        WriteFile(clips / ".vdub-1-0", "another process's");
        WriteFile(clips / ".sox-1-x", "another process's");
        window.entries = {a};
        window.deleteOriginal = true;
        const auto interrupt = [&] {
            if (row.interrupt && !Runs().empty())
                throw RunInterrupted("Interrupted");
        };
        EXPECT_NE(Run(interrupt), "");
        EXPECT_EQ(FolderHolds(clips.path().string()),
                  (std::set<std::string>{"a.avi", ".vdub-1-0", ".sox-1-x", "tools.log"}));
        for (const auto& entry : fs::directory_iterator(clips.path()))
            fs::remove_all(entry.path());
    }
}

} // namespace
} // namespace quorvil
