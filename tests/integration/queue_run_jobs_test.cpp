// Several entries at once (jobs > 1). The launcher runs in the entries' threads there: what it
// sees is kept in atomics and checked by the test's own thread.
#include <atomic>
#include <cctype>
#include <chrono>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "plan.h"
#include "queue_run.h"
#include "queue_run_fixture.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::ReadFile;
using test::Sep;
using test::ToolRun;
namespace fs = std::filesystem;

TEST_F(QueueRunTest, EntriesRunAtOnceEachWithAScriptOfItsOwnAndAreToldOfInTheCallersThread)
{
    struct Recorder : RunObserver {
        const std::thread::id caller = std::this_thread::get_id();
        std::vector<std::string> events;
        void EntryStarted(int i, const std::string&) override { Note("start " + std::to_string(i)); }
        void EntryFinished(int i, const std::string&, const EntryOutcome&) override
        {
            Note("end " + std::to_string(i));
        }
        void Note(const std::string& event)
        {
            events.push_back(event + (std::this_thread::get_id() == caller ? "" : " in another thread"));
        }
    } recorder;
    runner.Environment().observer = &recorder;
    const std::string a = Clip("a.avi");
    const std::string b = Clip("b.avi");
    window.entries = {a, b};
    // Each video tool starts only once both have been asked for: both scripts are written by then,
    // so a script written over the other's would show in what the tools read.
    std::atomic<int> asked = 0;
    std::atomic<bool> together = true;
    launch = [&](const ToolCommand& command, const EventHook& hook, ToolEnd* end) {
        if (command.showMode == ShowMode::hidden) {
            ++asked;
            if (!test::WaitUntil([&] { return asked == 2; }, std::chrono::seconds(10)))
                together = false;
        }
        return LaunchTool(command, hook, end);
    };
    EXPECT_EQ(Run({}, 2), "");
    EXPECT_TRUE(together) << "the two entries did not run at once";
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"start 0", "start 1", "end 0", "end 1"}));

    std::set<std::string> scripts;
    std::set<std::string> read;
    for (const ToolRun& run : Runs()) {
        if (run.tool == "vdub") {
            scripts.insert(run.args.at(1));
            read.insert(run.script);
        }
    }
    EXPECT_EQ(read, (std::set<std::string>{Script(a, a + "_processed" + Sep() + "a.avi"),
                                           Script(b, b + "_processed" + Sep() + "b.avi")}));
    EXPECT_EQ(scripts.size(), 2u);
    for (const auto& script : scripts)
        EXPECT_FALSE(fs::exists(script)) << script;
    if (HostPathRules().style == PathStyle::windows) {
        // Beside the program, the first one under the name it has always had.
        EXPECT_EQ(scripts, (std::set<std::string>{tools / "temp.vdf", tools / "temp2.vdf"}));
    } else {
        // In private directories of the slots, which go with the run.
        for (const auto& script : scripts)
            EXPECT_FALSE(fs::exists(fs::path(script).parent_path())) << script;
    }
    EXPECT_TRUE(fs::exists(b + "_processed" + Sep() + "b.avi.A2.wav"));
}

TEST_F(QueueRunTest, EntriesWithTheSameOutputsOrTheSameSourceFileNeverRunAtOnce)
{
    // The outputs beside the source, and the source deleted. Two entries with the same outputs,
    // converted at once, would write over each other; the second would then fail on the deleted
    // source and take the first one's outputs away with it. Another name of the file in another
    // folder (a hard link) has outputs of its own, but the file is held by the first entry: it
    // waits, and is converted after it.
    const bool posix = HostPathRules().style == PathStyle::posix;
    std::string upperClips = clips.dir();
    for (char& c : upperClips)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const struct {
        const char* name;
        std::string second;
        bool converted;
    } rows[] = {
        {"the same name twice", clips / "a.avi", false},
        {"through a linked folder, or in other letter case",
         posix ? clips / "again" + Sep() + "a.avi" : upperClips + "A.AVI", false},
        {"a hard link in another folder", clips / "other" + Sep() + "a.avi", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string a = Clip("a.avi");
        if (posix)
            fs::create_directory_symlink(clips.path(), clips / "again");
        fs::create_directory(clips / "other");
        fs::create_hard_link(a, clips / "other" + Sep() + "a.avi");
        window.entries = {a, row.second};
        window.subdir = false;
        window.deleteOriginal = true;
        // A video tool of the file holds on until another tool of it starts, or a while: time
        // enough for the fault to show.
        std::atomic<int> running = 0;
        std::atomic<bool> together = false;
        launch = [&](const ToolCommand& command, const EventHook& hook, ToolEnd* end) {
            if (!About(command, a) && !About(command, row.second))
                return LaunchTool(command, hook, end);
            if (++running > 1)
                together = true;
            if (command.showMode == ShowMode::hidden)
                (void)test::WaitUntil([&] { return running > 1; }, std::chrono::milliseconds(300));
            const int code = LaunchTool(command, hook, end);
            --running;
            return code;
        };
        if (row.converted) {
            EXPECT_EQ(Run({}, 2), "");
            EXPECT_FALSE(fs::exists(row.second));
            EXPECT_EQ(ReadFile(row.second + ".A2.wav"), test::WavBytes(1, 4));
        } else {
            // By then the first entry had deleted it.
            EXPECT_EQ(Run({}, 2), "1 file was not converted:\n" + row.second + ": the file is missing");
        }
        EXPECT_FALSE(together);
        EXPECT_FALSE(fs::exists(a));
        EXPECT_EQ(ReadFile(a + ".noaudio.avi"), "RIFF video");
        EXPECT_EQ(ReadFile(a + ".A2.wav"), test::WavBytes(1, 4));
        for (const auto& file : fs::directory_iterator(clips.path())) {
            if (file.path().filename() != "tools.log")
                fs::remove_all(file.path()); // a link goes, not what it leads to
        }
    }
}

TEST_F(QueueRunTest, AStopStartsNoMoreEntriesAndLetsTheRunningOnesEnd)
{
    // The first entry's tools take a while: the stop comes while they run.
    const test::ScopedEnv slow("FAKE_SLEEP_MS", "250");
    const test::ScopedEnv onlyA("FAKE_SLOW", "a.avi");
    for (const int jobs : {1, 2}) {
        SCOPED_TRACE(jobs);
        const std::string a = Clip("a.avi");
        const std::string b = Clip("b.avi");
        const std::string c = Clip("c.avi");
        fs::create_directory(b + "_processed");
        window.entries = {a, b, c};
        EXPECT_EQ(Run({}, jobs), "1 file was not converted:\n" + b + ": " + FolderExists(b) +
                                     "\n\nThe run stopped at " + b +
                                     "; the rest of the queue, 1 file, was not converted");
        EXPECT_TRUE(fs::exists(a + "_processed" + Sep() + "a.avi.A2.wav"));
        EXPECT_FALSE(fs::exists(c + "_processed"));
        EXPECT_EQ(Runs().size(), 3u);
        fs::remove_all(a + "_processed");
        fs::remove_all(b + "_processed");
        fs::remove(log());
    }
}

} // namespace
} // namespace quorvil
