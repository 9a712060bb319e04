#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "entry_record.h"
#include "file_ops.h"
#include "plan.h"
#include "queue_run.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;
namespace fs = std::filesystem;

// Owners of records that no longer run: one whose lock has gone with it, and one whose lock is
// still there but held by nobody (its machine stopped; LeaveRecord leaves it).
const RecordOwner kUnheld{"5eed"};
std::vector<std::pair<const char*, RecordOwner>> DeadOwners()
{
    return {{"a run whose lock has gone", {"dead"}}, {"a run whose lock nobody holds", kUnheld}};
}

// This run, the one that takes records back.
const RecordOwner kSelf{"5e1f"};

// A record as a run killed in the middle of its entry leaves it.
void LeaveRecord(const std::string& folder, const RecordOwner& owner, const std::function<void(EntryRecord&)>& fill)
{
    if (owner == kUnheld)
        WriteFile(folder + "owner-" + owner.token, "");
    std::string kept;
    {
        EntryRecord record(folder, owner);
        fill(record);
        record.Save();
        kept = record.Path();
        fs::rename(kept, kept + ".kept"); // out of the way of the record's own removal
    }
    fs::rename(kept + ".kept", kept);
}

std::vector<std::string> NamesIn(const TempDir& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.path()))
        names.push_back(entry.path().filename().string());
    return names;
}

TEST(EntryRecord, WhatADeadRunMadeIsTakenBackWhileItIsStillWhatItMade)
{
    for (const auto& [name, owner] : DeadOwners()) {
        SCOPED_TRACE(name);
        TempDir records;
        TempDir work;
        // Made by the dead run, and left as it left them.
        const std::string folder = work / "a.avi_processed";
        const std::string video = folder + test::Sep() + "a.avi";
        const std::string soundtrack = work / "a.avi.wav";
        // Made by the dead run, then changed by the user.
        const std::string kept = work / "b.avi_processed";
        const std::string replaced = kept + test::Sep() + "b.avi";
        const std::string remade = work / "c.avi_processed";
        fs::create_directory(folder);
        fs::create_directory(kept);
        fs::create_directory(remade);
        WriteFile(video, "video");
        WriteFile(soundtrack, "sound");
        WriteFile(replaced, "video");
        LeaveRecord(records.dir(), owner, [&](EntryRecord& record) {
            for (const std::string& made : {folder, kept, remade})
                record.Folder(made);
            for (const std::string& made : {video, soundtrack, replaced})
                record.File(made, StampAt(made));
        });
        fs::remove(replaced);
        WriteFile(replaced, "the user's own, longer");
        fs::remove(remade);
        fs::create_directory(remade); // another, though perhaps under the same number
        WriteFile(remade + test::Sep() + "mine", "the user's");

        EXPECT_EQ(TakeBackWhatDeadRunsLeft(records.dir(), kSelf), "");
        EXPECT_FALSE(fs::exists(folder));
        EXPECT_FALSE(fs::exists(soundtrack));
        EXPECT_EQ(ReadFile(replaced), "the user's own, longer");
        EXPECT_EQ(ReadFile(remade + test::Sep() + "mine"), "the user's");
        EXPECT_TRUE(NamesIn(records).empty());

        // Taken back twice (two runs at once): what has come to the names since stays.
        fs::remove(remade + test::Sep() + "mine");
        WriteFile(soundtrack, "sound");
        LeaveRecord(records.dir(), owner, [&](EntryRecord& record) {
            record.Folder(remade);
            record.File(soundtrack, StampAt(soundtrack));
        });
        std::vector<std::string> left = NamesIn(records);
        std::erase_if(left, [](const std::string& name) { return !name.starts_with("entry-"); });
        ASSERT_EQ(left.size(), 1u);
        fs::copy_file(records / left[0], records / (left[0] + ".new"));
        fs::remove(soundtrack);
        fs::rename(remade, work / "moved");
        fs::create_directory(remade); // the user's, empty
        WriteFile(soundtrack, "the user's sound");
        EXPECT_EQ(TakeBackWhatDeadRunsLeft(records.dir(), kSelf), "");
        EXPECT_EQ(TakeBackWhatDeadRunsLeft(records.dir(), kSelf), "");
        EXPECT_EQ(ReadFile(soundtrack), "the user's sound");
        EXPECT_TRUE(fs::is_directory(remade));
        EXPECT_TRUE(NamesIn(records).empty());
    }
}

TEST(EntryRecord, ARecordCutShortByAPowerLossTakesBackWhatItNamesWhole)
{
    TempDir records;
    TempDir work;
    const std::string video = work / "a.avi";
    const std::string soundtrack = work / "a.avi.wav";
    WriteFile(video, "video");
    WriteFile(soundtrack, "sound");
    LeaveRecord(records.dir(), DeadOwners()[0].second, [&](EntryRecord& record) {
        record.File(video, StampAt(video));
        record.File(soundtrack, StampAt(soundtrack));
    });
    const std::string name = NamesIn(records).at(0);
    const std::string whole = ReadFile(records / name);
    WriteFile(records / name, whole.substr(0, whole.size() - 5)); // the soundtrack's name cut short
    EXPECT_EQ(TakeBackWhatDeadRunsLeft(records.dir(), kSelf), "");
    EXPECT_FALSE(fs::exists(video));
    EXPECT_TRUE(fs::exists(soundtrack));
    EXPECT_TRUE(NamesIn(records).empty());
}

TEST(EntryRecord, WhatAnEntryMadeIsTheUsersOnceItWasOverOrHadDeletedItsSourceElseItGoesAndWhatItMovedAsideComesBack)
{
    enum class Source { there, aside, gone };
    const struct {
        const char* name;
        bool deleting;
        bool over;
        Source source;
        bool kept;        // the entry's outputs, and its folder
        bool lost = true; // the left channel's bytes, to a power loss; else the user shortened it since
    } rows[] = {
        {"killed while converting", false, false, Source::there, false},
        {"killed deleting the source, before it went", true, false, Source::there, false},
        {"killed deleting the source, which was aside", true, false, Source::aside, true},
        {"killed once the source was deleted", true, false, Source::gone, true},
        {"over, the source kept, an output edited since", false, true, Source::there, true, false},
        {"over, and a power loss emptied an output", false, true, Source::there, false},
        {"the user removed the source after a kill", false, false, Source::gone, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir records;
        TempDir work;
        const std::string source = work / "a.avi";
        const std::string folder = work / "a.avi_processed";
        const std::string video = work / "a.avi.noaudio.avi";
        const std::string left = work / "a.avi.A1.wav";
        const std::string soundtrack = work / "a.avi.wav";
        const std::string aside = NameAside(video);
        WriteFile(source, "source");
        WriteFile(video, "the user's video");
        const FileStamp sourceStamp = StampAt(source);
        const FileStamp usersVideo = StampAt(video);
        LeaveRecord(records.dir(), DeadOwners()[0].second, [&](EntryRecord& record) {
            record.Source(source, sourceStamp);
            record.Scratch(work / "temp.vdf", {}); // named before it was made, in a folder of the run's own
            WriteFile(work / "temp.vdf", "script");
            record.Folder(folder); // named before it was made
            fs::create_directory(folder);
            record.Aside(video, aside, usersVideo);
            fs::rename(video, aside);
            for (const std::string& made : {video, left, soundtrack})
                WriteFile(made, "ours");
            record.File(video, StampAt(video));
            record.File(left, StampAt(left));
            record.Scratch(soundtrack, StampAt(soundtrack));
            if (row.deleting)
                record.Deleting();
            if (row.over)
                record.Over();
        });
        // A tool's record of the left channel, which a power loss brought back after it was removed.
        LeaveRecord(records.dir(), DeadOwners()[0].second,
                    [&](EntryRecord& record) { record.File(left, StampAt(left)); });
        // As a power loss leaves a file whose bytes never reached the disk (of the time it had), where a
        // file's birth tells it.
        if (const auto time = fs::last_write_time(left); StampAt(left).born != 0) {
            WriteFile(left, "");
            fs::last_write_time(left, row.lost ? time : time + std::chrono::hours(1));
        } else if (row.over && row.lost) {
            continue; // a power loss is told by a file's birth
        }
        if (row.source == Source::aside) {
            fs::rename(source, NameAside(source));
            if (FileAsideOf(source, sourceStamp).empty())
                continue; // a system that removes a file without moving it aside first
        }
        if (row.source == Source::gone)
            fs::remove(source);

        EXPECT_EQ(TakeBackWhatDeadRunsLeft(records.dir(), kSelf), "");
        EXPECT_EQ(fs::exists(source), row.source == Source::there); // the deletion under way is finished
        EXPECT_FALSE(fs::exists(soundtrack));
        EXPECT_EQ(fs::exists(folder), row.kept);
        EXPECT_EQ(fs::exists(left), row.kept);
        EXPECT_EQ(ReadFile(video), row.kept ? "ours" : "the user's video");
        EXPECT_EQ(NamesIn(work).size(), (row.kept ? 3u : 1u) + (row.source == Source::there)); // nothing aside
        EXPECT_TRUE(NamesIn(records).empty());
    }
}

TEST(EntryRecord, ARecordOfARunThatStillRunsIsLeftAlone)
{
    // The lock is the system's, whoever holds it: a run in another process, in another PID namespace
    // (where its process number means nothing here), or in this one.
    for (const bool self : {true, false}) {
        SCOPED_TRACE(self ? "this very run" : "another run, holding its lock");
        TempDir records;
        TempDir work;
        const OwnerLock other(records.dir());
        ASSERT_TRUE(other.Held());
        const std::string output = work / "a.avi.wav";
        WriteFile(output, "sound");
        LeaveRecord(records.dir(), self ? kSelf : other.Owner(),
                    [&](EntryRecord& record) { record.File(output, StampAt(output)); });
        EXPECT_EQ(TakeBackWhatDeadRunsLeft(records.dir(), kSelf), "");
        EXPECT_TRUE(fs::exists(output));
        EXPECT_EQ(NamesIn(records).size(), 2u); // the record, and the other run's lock
    }
}

TEST(EntryRecord, ALinkAtARecordedNameIsNeverFollowed)
{
    TempDir records;
    TempDir work;
    const std::string file = work / "a.avi.wav";
    const std::string folder = work / "a.avi_processed";
    WriteFile(file, "sound");
    fs::create_directory(folder);
    LeaveRecord(records.dir(), DeadOwners()[0].second, [&](EntryRecord& record) {
        record.File(file, StampAt(file));
        record.Folder(folder);
    });
    // The very file and folder recorded, now reached through links at the recorded names.
    fs::rename(file, work / "elsewhere.wav");
    fs::rename(folder, work / "elsewhere");
    std::error_code noLinks;
    fs::create_symlink(work / "elsewhere.wav", file, noLinks);
    if (noLinks)
        GTEST_SKIP() << "links cannot be made here: " << noLinks.message();
    fs::create_directory_symlink(work / "elsewhere", folder);
    EXPECT_EQ(TakeBackWhatDeadRunsLeft(records.dir(), kSelf), "");
    EXPECT_EQ(ReadFile(work / "elsewhere.wav"), "sound");
    EXPECT_TRUE(fs::is_directory(work / "elsewhere"));
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_TRUE(fs::is_symlink(folder));
}

// Runs of the queue with the fake tools and a record folder of their own.
class RecordedRunTest : public ::testing::Test {
protected:
    RecordedRunTest() : logEnv_("FAKE_TOOL_LOG", clips / "tools.log") { test::InstallFakeTools(tools); }

    std::string Run(const std::string& recordFolder)
    {
        QueueRunner runner({tools.dir(), HostPathRules(), launch, nullptr, recordFolder});
        try {
            runner.RunQueue(window.Access(), {});
        } catch (const Error& e) {
            return e.what();
        }
        return "";
    }

    TempDir tools;
    TempDir clips;
    TempDir records;
    test::FakeQueue window;
    Launcher launch = LaunchTool;

private:
    test::ScopedEnv logEnv_;
};

TEST_F(RecordedRunTest, ARunTakesBackWhatADeadRunLeftOfAnEntryAndConvertsIt)
{
    const std::string a = clips / "a.avi";
    WriteFile(a, test::AviBytes(1));
    window.entries = {a};
    // What the run killed as the audio tool ran had made: the folder, the video and the soundtrack.
    const OutputFiles outputs = OutputFilesFor(a, true, HostPathRules());
    fs::create_directory(OutputDirectory(a));
    WriteFile(outputs.video, "video");
    WriteFile(SoundtrackFile(a), "sound");
    LeaveRecord(records.dir(), DeadOwners()[0].second, [&](EntryRecord& record) {
        record.Folder(OutputDirectory(a));
        record.File(outputs.video, StampAt(outputs.video));
        record.File(SoundtrackFile(a), StampAt(SoundtrackFile(a)));
    });

    EXPECT_EQ(Run(records.dir()), "");
    EXPECT_NE(ReadFile(outputs.video), "video");
    EXPECT_TRUE(fs::exists(outputs.left));
    EXPECT_FALSE(fs::exists(SoundtrackFile(a)));
    EXPECT_EQ(test::RecordsLeftOpen(records.dir()), 0); // the converted entry's is left over, for the next run
}

TEST_F(RecordedRunTest, AUsersOwnOutputFolderStillStopsTheRun)
{
    const std::string a = clips / "a.avi";
    WriteFile(a, test::AviBytes(1));
    window.entries = {a};
    // A dead run made a folder of that name once; the user moved it away and made one of their own.
    fs::create_directory(OutputDirectory(a));
    LeaveRecord(records.dir(), DeadOwners()[0].second, [&](EntryRecord& record) { record.Folder(OutputDirectory(a)); });
    fs::rename(OutputDirectory(a), clips / "moved");
    fs::create_directory(OutputDirectory(a));

    EXPECT_EQ(Run(records.dir()), "1 file was not converted:\n" + a + ": cannot create the output folder " +
                                      OutputDirectory(a) +
                                      ": it exists already (I/O error 183)\n\nThe run stopped at " + a);
    EXPECT_TRUE(fs::is_directory(OutputDirectory(a)));
    EXPECT_TRUE(ReadFile(clips / "tools.log").empty());
}

TEST_F(RecordedRunTest, WhileTheAudioToolRunsTheRecordNamesEverythingTheEntryMadeSoFar)
{
    // The run is "killed" as the first audio tool starts: what its record names is taken back then,
    // as the next run would, and the entry, failing, finds nothing left to take back itself.
    const std::string a = clips / "a.avi";
    WriteFile(a, test::AviBytes(1));
    window.entries = {a};
    TempDir dead;
    bool audioToolStarted = false;
    bool madeBefore = false;
    bool takenBack = false;
    launch = [&](const ToolCommand& command, const EventHook& hook, ToolEnd* end) {
        if (FileNamePart(command.programFile, HostPathRules()) == test::ProgramName("vdub"))
            return LaunchTool(command, hook, end);
        if (std::exchange(audioToolStarted, true))
            return 1;
        // The entry's record and its job's, beside no lock of their run: as if their run were gone.
        for (const std::string& name : NamesIn(records)) {
            if (name.starts_with("entry-"))
                fs::copy_file(records / name, dead / name);
        }
        madeBefore = fs::exists(OutputFilesFor(a, true, HostPathRules()).video) && fs::exists(SoundtrackFile(a));
        (void)TakeBackWhatDeadRunsLeft(dead.dir(), kSelf);
        takenBack = !fs::exists(OutputDirectory(a)) && !fs::exists(SoundtrackFile(a)) && NamesIn(dead).empty();
        return 1;
    };
    EXPECT_NE(Run(records.dir()), "");
    ASSERT_TRUE(audioToolStarted);
    EXPECT_TRUE(madeBefore);
    EXPECT_TRUE(takenBack);
    EXPECT_TRUE(NamesIn(records).empty());
    EXPECT_EQ(ReadFile(a), test::AviBytes(1));
}

TEST_F(RecordedRunTest, TheUsersStateFolderGoesWithTheRunThatLeavesItEmpty)
{
    TempDir home;
    const test::ScopedEnv posix("XDG_STATE_HOME", home.path().string()), windows("LOCALAPPDATA", home.path().string());
    const std::string state = record_host::StateFolder();
    for (const bool anotherRun : {false, true}) { // whose lock is in the folder, and stays
        window.entries = {clips / (anotherRun ? "b.avi" : "a.avi")};
        window.deleteOriginal = true; // a record is left over for a next run while a source is kept
        WriteFile(window.entries[0], test::AviBytes(1));
        std::optional<OwnerLock> other;
        if (anotherRun && fs::create_directories(state))
            other.emplace(state);
        EXPECT_EQ(Run(""), "");
        EXPECT_EQ(fs::exists(state), anotherRun);
    }
}

TEST_F(RecordedRunTest, ARunWhoseRecordsCannotBeKeptStillConverts)
{
    const std::string a = clips / "a.avi";
    WriteFile(a, test::AviBytes(1));
    window.entries = {a};
    WriteFile(records / "a file", "");
    EXPECT_EQ(Run(records / "a file" + test::Sep() + "quorvil"), "");
    EXPECT_TRUE(fs::exists(OutputFilesFor(a, true, HostPathRules()).right));
    EXPECT_EQ(NamesIn(records), std::vector<std::string>{"a file"});
}

} // namespace
} // namespace quorvil
