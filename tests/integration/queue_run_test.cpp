// The queue run against the fake tools, on either platform (the core is the same code): the order
// of the entries and their tools, the options, failures, stops and interruptions.
#include <chrono>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "command_line.h"
#include "errors.h"
#include "plan.h"
#include "queue_run.h"
#include "queue_run_fixture.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::ProgramName;
using test::ReadFile;
using test::Sep;
using test::WriteFile;
namespace fs = std::filesystem;

TEST_F(QueueRunTest, EmptyQueueDoesNothing)
{
    EXPECT_EQ(Run(), "");
    EXPECT_TRUE(Runs().empty());
}

TEST_F(QueueRunTest, ConvertsEveryEntryInOrderIntoSubdirectories)
{
    const std::string a = Clip("a.avi");
    const std::string b = Clip("b b.avi");
    window.entries = {a, b};
    EXPECT_EQ(Run(), "");

    const auto runs = Runs();
    ASSERT_EQ(runs.size(), 6u);
    const std::string script = runs[0].args.at(1);
    EXPECT_TRUE(script.ends_with(Sep() + "temp.vdf"));
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string& path = window.entries[i];
        const std::string out = path + "_processed" + Sep() + fs::path(path).filename().string();
        EXPECT_EQ(runs[3 * i].tool, "vdub");
        EXPECT_EQ(runs[3 * i].args, (std::vector<std::string>{"/s", script, "/min"}));
        EXPECT_EQ(runs[3 * i + 1].tool, "sox");
        EXPECT_EQ(runs[3 * i + 1].args, (std::vector<std::string>{path + ".wav", out + ".A1.wav", "remix", "-1"}));
        EXPECT_EQ(runs[3 * i + 2].args, (std::vector<std::string>{path + ".wav", out + ".A2.wav", "remix", "2"}));
        EXPECT_EQ(runs[3 * i].script, Script(path, out));
        EXPECT_EQ(ReadFile(out), "RIFF video");
        EXPECT_EQ(ReadFile(out + ".A1.wav"), test::WavBytes(1, 4));
        EXPECT_EQ(ReadFile(out + ".A2.wav"), test::WavBytes(1, 4));
        EXPECT_FALSE(fs::exists(path + ".wav"));
        EXPECT_TRUE(fs::exists(path)); // DELETE is off
    }
    EXPECT_FALSE(fs::exists(script));
    EXPECT_EQ(window.entries.size(), 2u);
}

TEST_F(QueueRunTest, WithoutSubdirectoryOutputsGoBesideTheSourceAndASecondRunRedoesThem)
{
    const std::string a = Clip("a.avi");
    window.entries = {a};
    window.subdir = false;
    EXPECT_EQ(Run(), "");
    EXPECT_EQ(Run(), "");
    EXPECT_EQ(Runs().size(), 6u);
    EXPECT_EQ(ReadFile(a + ".noaudio.avi"), "RIFF video");
    EXPECT_EQ(ReadFile(a + ".A2.wav"), test::WavBytes(1, 4));
    EXPECT_FALSE(fs::exists(a + "_processed"));
    EXPECT_EQ(Runs()[0].script, Script(a, a + ".noaudio.avi"));
}

TEST_F(QueueRunTest, DeleteRemovesTheSourceAfterSuccess)
{
    window.entries = {Clip("a.avi")};
    window.deleteOriginal = true;
    EXPECT_EQ(Run(), "");
    EXPECT_FALSE(fs::exists(window.entries[0]));
    EXPECT_TRUE(fs::exists(window.entries[0] + "_processed" + Sep() + "a.avi.A2.wav"));
}

TEST_F(QueueRunTest, AFailingToolKeepsTheSourceTheRunGoesOnAndTheFailureIsListed)
{
    // A failed video tool leaves no soundtrack: the audio tools are not started for that entry.
    const struct {
        const char* fail;
        std::string reason;
        int launches;
    } rows[] = {
        {"vdub", " ended with exit code 1" + Said("vdub"), 4},
        {"left", " for the left channel ended with exit code 1" + Said("left"), 6},
        {"right", " for the right channel ended with exit code 1" + Said("right"), 6},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fail);
        const test::ScopedEnv fail("FAKE_FAIL", row.fail);
        const std::string bad = Clip(std::string(row.fail) + ".avi");
        const std::string good = Clip(std::string(row.fail) + "-ok.avi");
        window.entries = {bad, good};
        window.deleteOriginal = true;
        // The second entry must not fail: let the launcher clear the failure once the first is done.
        int launches = 0;
        launch = [&](const ToolCommand& command, const EventHook& hook, ToolEnd* end) {
            if (launches++ == row.launches - 3)
                test::UnsetEnv("FAKE_FAIL");
            return LaunchTool(command, hook, end);
        };
        const std::string tool = ProgramName(row.fail == std::string("vdub") ? "vdub" : "sox");
        EXPECT_EQ(Run(), "1 file was not converted; its source file was kept:\n" + bad + ": " + tool + row.reason);
        EXPECT_EQ(launches, row.launches);
        EXPECT_TRUE(fs::exists(bad));
        EXPECT_FALSE(fs::exists(good));
        EXPECT_FALSE(fs::exists(bad + ".wav"));
    }
}

TEST_F(QueueRunTest, MissingToolsAreReportedForEveryEntry)
{
    fs::remove(tools / ProgramName("vdub"));
    const std::string a = Clip("a.avi");
    const std::string b = Clip("b.avi");
    window.entries = {a, b};
    window.deleteOriginal = true;
    EXPECT_EQ(Run(), "2 files were not converted; their source files were kept:\n" + a + ": " + ProgramName("vdub") +
                         " was not found\n" + b + ": " + ProgramName("vdub") + " was not found");
    EXPECT_TRUE(fs::exists(a));
    EXPECT_TRUE(fs::exists(b));
}

TEST_F(QueueRunTest, AnExistingOutputDirectoryStopsTheRunBeforeAnyTool)
{
    const std::string a = Clip("a.avi");
    const std::string b = Clip("b.avi");
    window.entries = {a, b, a};
    EXPECT_EQ(Run(), "1 file was not converted:\n" + a + ": " + FolderExists(a) + "\n\nThe run stopped at " + a);
    EXPECT_EQ(Runs().size(), 6u); // a and b converted, the repeated a stopped the run

    // A second run stops at the first entry.
    EXPECT_EQ(Run(), "1 file was not converted:\n" + a + ": " + FolderExists(a) + "\n\nThe run stopped at " + a +
                         "; the rest of the queue, 2 files, was not converted");
    EXPECT_EQ(Runs().size(), 6u);
}

TEST_F(QueueRunTest, AStopAfterFailuresKeepsTheFailureList)
{
    const std::string a = Clip("a.avi");
    const std::string b = Clip("b.avi");
    fs::create_directory(b + "_processed");
    window.entries = {a, b};
    const test::ScopedEnv fail("FAKE_FAIL", "vdub");
    EXPECT_EQ(Run(), "2 files were not converted:\n" + a + ": " + ProgramName("vdub") + " ended with exit code 1" +
                         Said("vdub") + "\n" + b + ": " + FolderExists(b) + "\n\nThe run stopped at " + b);
}

TEST_F(QueueRunTest, AScriptThatCannotBeCreatedStopsTheRunBeforeAnyToolAndTakesBackTheDirectory)
{
    // Where the script goes is really a file: no permission bits involved, so root fails too.
    const std::string notADirectory = tools / "file";
    WriteFile(notADirectory, "x");
    window.entries = {Clip("a.avi")};
    std::string start =
        "1 file was not converted:\n" + window.entries[0] + ": Cannot create file \"" + notADirectory + Sep();
    std::optional<test::ScopedEnv> tmp;
    std::optional<test::ScopedEnv> runtime;
    if (HostPathRules().style == PathStyle::posix) {
        tmp.emplace("TMPDIR", notADirectory);
        runtime.emplace("XDG_RUNTIME_DIR", "");
        start += "quorvil-";
    } else {
        runner.Environment().programDir = notADirectory + Sep();
        start += "temp.vdf\". ";
    }
    const std::string message = Run();
    EXPECT_TRUE(message.starts_with(start)) << message;
    EXPECT_TRUE(message.ends_with("\n\nThe run stopped at " + window.entries[0])) << message;
    EXPECT_TRUE(Runs().empty());
    EXPECT_FALSE(fs::exists(window.entries[0] + "_processed"));
}

TEST_F(QueueRunTest, TheScriptLivesWhereEveryUserMayWriteItAndGoesWithTheRun)
{
    window.entries = {Clip("a.avi")};
    std::optional<test::ScopedEnv> runtime;
    const std::string runtimeDir = clips / "runtime";
    fs::create_directory(runtimeDir);
    if (HostPathRules().style == PathStyle::posix)
        runtime.emplace("XDG_RUNTIME_DIR", runtimeDir);
    EXPECT_EQ(Run(), "");
    const std::string script = Runs().at(0).args.at(1);
    if (HostPathRules().style == PathStyle::posix) {
        EXPECT_TRUE(script.starts_with(runtimeDir + "/quorvil-")) << script;
        EXPECT_TRUE(fs::is_empty(runtimeDir));
    } else {
        EXPECT_EQ(script, tools / "temp.vdf");
    }
    EXPECT_FALSE(fs::exists(script));
}

TEST_F(QueueRunTest, OptionsAreReadWhenEachStepNeedsThem)
{
    const std::string a = Clip("a.avi");
    window.entries = {a};
    // Subdirectory off once the video tool has run, Delete on once the last tool has run.
    launch = [&](const ToolCommand& command, const EventHook& hook, ToolEnd* end) {
        const int code = LaunchTool(command, hook, end);
        if (command.programFile.ends_with(ProgramName("vdub")))
            window.subdir = false;
        if (command.parameters.ends_with("remix 2"))
            window.deleteOriginal = true;
        return code;
    };
    EXPECT_EQ(Run(), "");
    EXPECT_TRUE(fs::exists(a + "_processed" + Sep() + "a.avi"));
    EXPECT_TRUE(fs::exists(a + ".A1.wav"));
    EXPECT_TRUE(fs::exists(a + ".A2.wav"));
    EXPECT_FALSE(fs::exists(a));
}

TEST_F(QueueRunTest, EntriesChangedWhileAToolRuns)
{
    const test::ScopedEnv slow("FAKE_SLEEP_MS", "250");
    const std::string a = Clip("a.avi");
    const std::string b = Clip("b.avi");
    const std::string c = Clip("c.avi");

    // Added during the run: not converted by it.
    window.entries = {a};
    EXPECT_EQ(Run([&] {
                  if (window.entries.size() == 1)
                      window.entries.push_back(b);
              }),
              "");
    EXPECT_EQ(Runs().size(), 3u);

    // Removed during the run: the later entries shift, and the last index is gone.
    window.subdir = false;
    window.entries = {a, b, c};
    EXPECT_EQ(Run([&] {
                  if (window.entries.size() == 3)
                      window.entries.erase(window.entries.begin());
              }),
              "List index out of bounds (2)");
    const auto runs = Runs();
    ASSERT_EQ(runs.size(), 9u);
    EXPECT_EQ(runs[7].args[0], c + ".wav"); // entry 1 was c by then
}

TEST_F(QueueRunTest, ACallDuringARunDoesNothing)
{
    const test::ScopedEnv slow("FAKE_SLEEP_MS", "250");
    window.entries = {Clip("a.avi")};
    int nested = 0;
    EXPECT_EQ(Run([&] {
                  ++nested;
                  EXPECT_TRUE(runner.Busy());
                  runner.RunQueue(window.Access(), {});
              }),
              "");
    EXPECT_GT(nested, 0);
    EXPECT_FALSE(runner.Busy());
    EXPECT_EQ(Runs().size(), 3u);
}

TEST_F(QueueRunTest, ObserverSeesEachEntry)
{
    struct Recorder : RunObserver {
        std::vector<std::string> events;
        void EntryStarted(int i, const std::string&) override { events.push_back("start " + std::to_string(i)); }
        void EntryFinished(int i, const std::string&, const EntryOutcome& o) override
        {
            events.push_back("end " + std::to_string(i) + (o.converted ? " ok" : " failed"));
        }
    } recorder;
    window.entries = {Clip("a.avi"), clips / "missing.avi"};
    runner.Environment().observer = &recorder;
    EXPECT_NE(Run(), "");
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"start 0", "end 0 ok", "start 1", "end 1 failed"}));
}

TEST_F(QueueRunTest, TheUsersOwnSoundtrackFileIsNeverTouchedAndAFailedEntryCanBeRetried)
{
    const std::string a = Clip("a.avi");
    WriteFile(a + ".wav", "the user's own recording");
    window.entries = {a};
    window.deleteOriginal = true;
    EXPECT_EQ(Run(), "1 file was not converted; its source file was kept:\n" + a + ": " + a +
                         ".wav exists; Quorvil will not overwrite it");
    EXPECT_TRUE(Runs().empty());
    EXPECT_EQ(ReadFile(a + ".wav"), "the user's own recording");
    EXPECT_FALSE(fs::exists(a + "_processed"));

    // A tool fails: its entry's directory goes, and the next run converts it.
    fs::remove(a + ".wav");
    {
        const test::ScopedEnv fail("FAKE_FAIL", "right");
        EXPECT_NE(Run(), "");
    }
    EXPECT_FALSE(fs::exists(a + "_processed"));
    EXPECT_EQ(Run(), "");
    EXPECT_FALSE(fs::exists(a));
}

TEST_F(QueueRunTest, AnInterruptedRunEndsItsToolAndCleansUpItsEntry)
{
    const test::ScopedEnv slow("FAKE_SLEEP_MS", "20000");
    const std::string a = Clip("a.avi");
    window.entries = {a, Clip("b.avi")};
    window.deleteOriginal = true;
    // Interrupted once the tool is under way: under Wine a program can take longer than the first
    // wait to start, and one ended before it began shows nothing of its ending.
    const auto interrupt = [&] {
        if (!Runs().empty())
            throw RunInterrupted("Interrupted");
    };
    EXPECT_EQ(Run(interrupt),
              "1 file was not converted; its source file was kept:\n" + a + ": the run was interrupted\n\nInterrupted");
    EXPECT_EQ(Runs().size(), 1u);
    EXPECT_TRUE(fs::exists(a));
    EXPECT_FALSE(fs::exists(a + "_processed"));
}

TEST_F(QueueRunTest, AnInterruptionReachesTheCallerAsOneWithTheFailureListInIt)
{
    const test::ScopedEnv slow("FAKE_SLEEP_MS", "20000");
    for (const int jobs : {1, 2}) {
        SCOPED_TRACE(jobs);
        const std::string a = Clip("a.avi");
        window.entries = {a};
        const auto interrupt = [&] {
            if (!Runs().empty())
                throw RunInterrupted("Interrupted");
        };
        std::string text;
        try {
            runner.RunQueue(window.Access(), interrupt, jobs);
        } catch (const RunInterrupted& e) { // the type callers are told to catch, not a plain Error
            text = e.what();
        } catch (const Error& e) {
            text = std::string("a plain Error: ") + e.what();
        }
        EXPECT_EQ(text, "1 file was not converted:\n" + a + ": the run was interrupted\n\nInterrupted");
        fs::remove(log());
    }
}

} // namespace
} // namespace quorvil
