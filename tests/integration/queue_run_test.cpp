// The queue run against the fake tools, on either platform: the core is the same code.
#include <gtest/gtest.h>

#include "errors.h"
#include "plan.h"
#include "queue_run.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::ProgramName;
using test::ReadFile;
using test::ReadToolLog;
using test::Sep;
using test::TempDir;
using test::ToolRun;
using test::WriteFile;
namespace fs = std::filesystem;

class QueueRunTest : public ::testing::Test {
protected:
    QueueRunTest() : logEnv_("FAKE_TOOL_LOG", log()) { test::InstallFakeTools(tools); }

    std::string log() const { return clips / "tools.log"; }
    std::vector<ToolRun> Runs() const { return ReadToolLog(log()); }

    // A source file with something in it.
    std::string Clip(const std::string& name)
    {
        const std::string path = clips / name;
        WriteFile(path, "RIFF source " + name);
        return path;
    }

    RunEnvironment Environment()
    {
        return {tools.dir(), HostPathRules(), [this](const ToolCommand& c, const EventHook& h) { return launch(c, h); },
                nullptr};
    }

    // Runs the queue; the text of the error it ended with, or "" when it ended normally.
    std::string Run(const EventHook& hook = {})
    {
        try {
            runner.RunQueue(window.Access(), hook);
        } catch (const Error& e) {
            return e.what();
        }
        return "";
    }

    static std::string Script(const std::string& path, const std::string& video)
    {
        return "VirtualDub.video.SetMode(0);\r\n"
               "VirtualDub.Open(\"" +
               EscapeScriptPath(path) +
               "\",0,0);\r\n"
               "VirtualDub.SaveWAV(\"" +
               EscapeScriptPath(path) +
               ".wav\");\r\n"
               "VirtualDub.audio.SetSource(0);\r\n"
               "VirtualDub.SaveCompatibleAVI(\"" +
               EscapeScriptPath(video) +
               "\");\r\n"
               "VirtualDub.Close();\r\n";
    }

    TempDir tools;
    TempDir clips;
    test::FakeQueue window;
    Launcher launch = LaunchTool;
    QueueRunner runner{Environment()};

private:
    test::ScopedEnv logEnv_;
};

TEST_F(QueueRunTest, EmptyQueueDoesNothing)
{
    EXPECT_EQ(Run(), "");
    EXPECT_TRUE(Runs().empty());
    EXPECT_FALSE(fs::exists(tools / "temp.vdf"));
}

TEST_F(QueueRunTest, ConvertsEveryEntryInOrderIntoSubdirectories)
{
    const std::string a = Clip("a.avi");
    const std::string b = Clip("b b.avi");
    window.entries = {a, b};
    EXPECT_EQ(Run(), "");

    const auto runs = Runs();
    ASSERT_EQ(runs.size(), 6u);
    const std::string script = tools / "temp.vdf";
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
        EXPECT_EQ(ReadFile(out + ".A1.wav"), "RIFF left");
        EXPECT_EQ(ReadFile(out + ".A2.wav"), "RIFF right");
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
    EXPECT_EQ(ReadFile(a + ".A1.wav"), "RIFF left");
    EXPECT_EQ(ReadFile(a + ".A2.wav"), "RIFF right");
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
    const struct {
        const char* fail;
        const char* reason;
    } rows[] = {
        {"vdub", " ended with exit code 1"},
        {"left", " for the left channel ended with exit code 1"},
        {"right", " for the right channel ended with exit code 1"},
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
        launch = [&](const ToolCommand& command, const EventHook& hook) {
            if (launches++ == 3)
                test::UnsetEnv("FAKE_FAIL");
            return LaunchTool(command, hook);
        };
        const std::string tool = ProgramName(row.fail == std::string("vdub") ? "vdub" : "sox");
        EXPECT_EQ(Run(), "1 file was not converted, and its source file was kept:\n" + bad + ": " + tool + row.reason);
        EXPECT_EQ(launches, 6);
        EXPECT_TRUE(fs::exists(bad));
        EXPECT_FALSE(fs::exists(good));
        EXPECT_FALSE(fs::exists(bad + ".wav"));
        EXPECT_FALSE(fs::exists(tools / "temp.vdf"));
    }
}

TEST_F(QueueRunTest, MissingToolsAreReportedForEveryEntry)
{
    fs::remove(tools / ProgramName("vdub"));
    const std::string a = Clip("a.avi");
    const std::string b = Clip("b.avi");
    window.entries = {a, b};
    window.deleteOriginal = true;
    EXPECT_EQ(Run(), "2 files were not converted, and their source files were kept:\n" + a + ": " +
                         ProgramName("vdub") + " could not be started or did not end normally\n" + b + ": " +
                         ProgramName("vdub") + " could not be started or did not end normally");
    EXPECT_TRUE(fs::exists(a));
    EXPECT_TRUE(fs::exists(b));
}

TEST_F(QueueRunTest, ASourceIsKeptWhenAnyOfItsThreeOutputsIsMissingOrEmpty)
{
    // A tool that exits 0 without writing its output, as SoX does on a full disk.
    const struct {
        const char* afterTool; // the parameters of the command after which the output goes
        const char* output;
        bool remove;
    } rows[] = {
        {"/min", "a.avi", true},
        {"/min", "a.avi", false},
        {"remix -1", "a.avi.A1.wav", true},
        {"remix 2", "a.avi.A2.wav", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.output) + (row.remove ? " missing" : " empty"));
        const std::string a = Clip("a.avi");
        const std::string output = a + "_processed" + Sep() + row.output;
        window.entries = {a};
        window.deleteOriginal = true;
        launch = [&](const ToolCommand& command, const EventHook& hook) {
            const int code = LaunchTool(command, hook);
            if (command.parameters.ends_with(row.afterTool)) {
                if (row.remove)
                    fs::remove(output);
                else
                    WriteFile(output, "");
            }
            return code;
        };
        EXPECT_EQ(Run(), "1 file was not converted, and its source file was kept:\n" + a + ": " + output +
                             " is missing or empty");
        EXPECT_TRUE(fs::exists(a));
        fs::remove_all(a + "_processed");
    }
}

TEST_F(QueueRunTest, AnExistingOutputDirectoryStopsTheRunBeforeAnyTool)
{
    const std::string a = Clip("a.avi");
    const std::string b = Clip("b.avi");
    window.entries = {a, b, a};
    EXPECT_EQ(Run(), "I/O error 183");
    EXPECT_EQ(Runs().size(), 6u); // a and b converted, the repeated a stopped the run
    EXPECT_FALSE(fs::exists(tools / "temp.vdf"));

    // A second run stops at the first entry.
    EXPECT_EQ(Run(), "I/O error 183");
    EXPECT_EQ(Runs().size(), 6u);
}

TEST_F(QueueRunTest, AStopAfterFailuresKeepsTheFailureList)
{
    const std::string a = Clip("a.avi");
    window.entries = {a, a};
    const test::ScopedEnv fail("FAKE_FAIL", "vdub");
    EXPECT_EQ(Run(), "1 file was not converted, and its source file was kept:\n" + a + ": " + ProgramName("vdub") +
                         " ended with exit code 1\n\nI/O error 183");
}

TEST_F(QueueRunTest, AScriptThatCannotBeCreatedStopsTheRunBeforeAnyTool)
{
    // A program "directory" that is really a file: no permission bits involved, so root fails too.
    const std::string notADirectory = tools / "file";
    WriteFile(notADirectory, "x");
    window.entries = {Clip("a.avi")};
    runner.Environment().programDir = notADirectory + Sep();
    const std::string message = Run();
    const std::string start = "Cannot create file \"" + notADirectory + Sep() + "temp.vdf\". ";
    EXPECT_TRUE(message.starts_with(start)) << message;
    EXPECT_GT(message.size(), start.size()) << "no system text";
    EXPECT_NE(message.back(), '.');
    EXPECT_TRUE(Runs().empty());
    EXPECT_TRUE(fs::is_directory(window.entries[0] + "_processed"));
}

TEST_F(QueueRunTest, OptionsAreReadWhenEachStepNeedsThem)
{
    const std::string a = Clip("a.avi");
    window.entries = {a};
    // Subdirectory off once the video tool has run, Delete on once the last tool has run.
    launch = [&](const ToolCommand& command, const EventHook& hook) {
        const int code = LaunchTool(command, hook);
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

} // namespace
} // namespace quorvil
