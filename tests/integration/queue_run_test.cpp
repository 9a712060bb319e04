// The queue run against the fake tools, on either platform: the core is the same code.
#include <atomic>
#include <cctype>
#include <chrono>
#include <fstream>
#include <optional>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "command_line.h"
#include "errors.h"
#include "file_ops.h"
#include "plan.h"
#include "queue_run.h"
#include "riff_writer.h"
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

    // A source file: the headers of an AVI with one audio stream, unless told otherwise.
    std::string Clip(const std::string& name, int audioStreams = 1)
    {
        const std::string path = clips / name;
        WriteFile(path, test::AviBytes(audioStreams));
        return path;
    }

    RunEnvironment Environment()
    {
        return {tools.dir(), HostPathRules(),
                [this](const ToolCommand& c, const EventHook& h, ToolEnd* e) { return launch(c, h, e); }, nullptr,
                records.dir()};
    }

    // What a failing fake tool said, as the failure list quotes it (from its error output on POSIX,
    // from the file it leaves on Windows).
    static std::string Said(const std::string& role) { return " (fake " + role + ": failing as asked)"; }

    // Why the entry of source could not begin, as the closing message names its existing output folder.
    static std::string FolderExists(const std::string& source)
    {
        return "cannot create the output folder " + source + "_processed: it exists already (I/O error 183)";
    }

    // Runs the queue; the text of the error it ended with, or "" when it ended normally.
    std::string Run(const EventHook& hook = {}, int jobs = 1)
    {
        try {
            runner.RunQueue(window.Access(), hook, jobs);
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

    // Whether a tool's command is about the source named: sox's arguments name its soundtrack, the
    // video tool's script names the source.
    static bool About(const ToolCommand& command, const std::string& name)
    {
        if (command.showMode != ShowMode::hidden)
            return command.parameters.find(name + ".wav") != std::string::npos;
        const auto script = SplitCommandLine(command.parameters);
        return script.size() > 1 && ReadFile(script[1]).find(EscapeScriptPath(name) + "\"") != std::string::npos;
    }

    TempDir tools;
    TempDir clips;
    TempDir records; // where the runs keep their entry records
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

TEST_F(QueueRunTest, ASourceIsDeletedOnlyWhenItsContentIsProvablyInTheOutputs)
{
    // Tools that exit 0 but lie, and sources that hold more than the outputs can: each row changes
    // what a tool left (after tool 0, 1 or 2) or the source, and says what keeps the source.
    using Change = std::function<void(const std::string& source, const std::string& output)>;
    const auto write = [](const std::string& bytes) -> Change {
        return [bytes](const std::string&, const std::string& output) { WriteFile(output, bytes); };
    };
    const std::string fourFrames = test::WavBytes(1, 4);
    enum Outcome { failed, kept, deleted };
    const struct {
        const char* name;
        std::size_t afterTool;
        Change change;
        Outcome outcome;
        std::string reason;
        int audioStreams = 1; // of the source; -1: not an AVI
    } rows[] = {
        {"video missing", 0, [](auto&, auto& out) { fs::remove(out); }, failed, "a.avi is missing or empty"},
        {"video empty", 0, write(""), failed, "a.avi is missing or empty"},
        {"left missing", 1, [](auto&, auto& out) { fs::remove(out); }, failed, "a.avi.A1.wav is missing or empty"},
        {"right short (a full disk)", 2, write(test::WavBytes(1, 2)), failed,
         "a.avi.A2.wav holds 2 of the soundtrack's 4 sample frames"},
        {"left one frame short", 1, write(test::WavBytes(1, 3)), failed,
         "a.avi.A1.wav holds 3 of the soundtrack's 4 sample frames"},
        {"right cut off", 2, write(fourFrames.substr(0, fourFrames.size() - 1)), failed,
         "a.avi.A2.wav is shorter or longer than its header says"},
        {"left not a WAV", 1, write("RIFF left"), failed, "a.avi.A1.wav is not a WAV file"},
        {"left stereo", 1, write(test::WavBytes(2, 4)), failed, "a.avi.A1.wav is not mono"},
        {"right other rate", 2, write(test::WavBytes(1, 4, 44100)), failed,
         "a.avi.A2.wav is not in the soundtrack's sample format and rate"},
        {"soundtrack empty", 0,
         [](const std::string& source, auto&) { WriteFile(source + ".wav", test::WavBytes(2, 0)); }, failed,
         "the soundtrack holds no sound"},
        {"source changed", 1, [](const std::string& source, auto&) { std::ofstream(source, std::ios::app) << "more"; },
         failed, "the source file changed during its conversion"},
        {"six channels", 0, [](const std::string& source, auto&) { WriteFile(source + ".wav", test::WavBytes(6, 4)); },
         kept, "it has 6 audio channels; only the first two are in the outputs"},
        {"two audio streams", 0, {}, kept, "it has 2 audio streams; only the first is in the outputs", 2},
        {"not an AVI", 0, {}, kept, "its streams could not be counted", -1},
        {"write-protected", 0,
         [](const std::string& source, auto&) {
             fs::permissions(source, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                             fs::perm_options::remove);
         },
         kept, "it is write-protected; Quorvil deletes no write-protected file"},
        {"one video and one audio stream", 0, {}, deleted, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string a = Clip("a.avi", row.audioStreams);
        if (row.audioStreams < 0)
            WriteFile(a, "MPEG");
        window.entries = {a};
        window.deleteOriginal = true;
        std::size_t tool = 0;
        launch = [&](const ToolCommand& command, const EventHook& hook, ToolEnd* end) {
            const int code = LaunchTool(command, hook, end);
            const OutputFiles outputs = OutputFilesFor(a, true, HostPathRules());
            if (tool == row.afterTool && row.change)
                row.change(a, tool == 0 ? outputs.video : tool == 1 ? outputs.left : outputs.right);
            ++tool;
            return code;
        };
        const std::string message = Run();
        if (row.outcome == deleted) {
            EXPECT_EQ(message, "");
        } else {
            EXPECT_NE(message.find(row.reason), std::string::npos) << message;
            EXPECT_NE(message.find(row.outcome == kept ? "converted, but its source" : "not converted"),
                      std::string::npos)
                << message;
        }
        EXPECT_EQ(fs::exists(a), row.outcome != deleted);
        EXPECT_EQ(fs::exists(a + "_processed"), row.outcome != failed); // a failed entry takes back what it made
        EXPECT_FALSE(fs::exists(a + ".wav"));
        fs::remove_all(a + "_processed");
        if (fs::exists(a))
            fs::permissions(a, fs::perms::owner_write, fs::perm_options::add);
    }
}

TEST_F(QueueRunTest, ASourceIsDeletedOnlyWithOneVideoAndOneAudioStreamAndItsFullPrecision)
{
    // Hand-made stream headers, read as FFmpeg reads them, and soundtracks of the precision given:
    // every stream the outputs do not carry, and every bit the soundtrack drops, keeps the source.
    using namespace test;
    const std::string junk = Chunk("JUNK", std::string(24, '\0'));
    const std::string keepsAll = "only the first video and the first audio stream are in the outputs";
    const struct {
        const char* name;
        std::vector<std::string> streams; // the header list's chunks after its main header
        const char* soundtrack;           // the samples the video tool writes: "" 16-bit, "24", "f32"...
        std::string kept;                 // why the source is kept; "" when it is deleted
    } rows[] = {
        {"one video and one audio stream", {VideoStream(), AudioStream()}, "", ""},
        {"a second video stream",
         {VideoStream(), VideoStream(), AudioStream()},
         "",
         "it has 2 video streams and 1 audio stream; " + keepsAll},
        {"a subtitle stream",
         {VideoStream(), AudioStream(), StreamList({StreamHeader("txts")})},
         "",
         "it has 1 video stream, 1 audio stream and 1 subtitle stream; " + keepsAll},
        {"a bitmap subtitle stream",
         {VideoStream(), AudioStream(), StreamList({StreamHeader("vids"), BitmapFormat("DXSB")})},
         "",
         "it has 1 video stream, 1 audio stream and 1 subtitle stream; " + keepsAll},
        {"a data stream",
         {VideoStream(), AudioStream(), StreamList({StreamHeader("dats")})},
         "",
         "it has 1 video stream, 1 audio stream and 1 data stream; " + keepsAll},
        {"a stream of another type",
         {VideoStream(), AudioStream(), StreamList({StreamHeader("mids")})},
         "",
         "it has 1 video stream, 1 audio stream and a stream of type \"mids\"; " + keepsAll},
        {"a second audio stream whose list begins with JUNK",
         {VideoStream(), AudioStream(), StreamList({junk, StreamHeader("auds"), WaveFormat(1, 16)})},
         "",
         "it has 2 audio streams; only the first is in the outputs"},
        {"a second audio stream after JUNK and an OpenDML list",
         {VideoStream(), AudioStream(), junk, List("odml", {Chunk("dmlh", std::string(248, '\0'))}), AudioStream()},
         "",
         "it has 2 audio streams; only the first is in the outputs"},
        {"the format header before the stream header",
         {StreamList({BitmapFormat(), StreamHeader("vids")}),
          StreamList({junk, StreamHeader("auds"), junk, WaveFormat(1, 24)})},
         "24",
         ""},
        {"24-bit PCM written as 16-bit",
         {VideoStream(), AudioStream(WaveFormat(1, 24))},
         "",
         "its audio has 24-bit samples, the outputs only 16-bit ones"},
        {"24-bit PCM kept", {VideoStream(), AudioStream(WaveFormat(1, 24))}, "24", ""},
        {"24-bit extensible PCM written as 16-bit",
         {VideoStream(), AudioStream(ExtensibleFormat(1, 24))},
         "",
         "its audio has 24-bit samples, the outputs only 16-bit ones"},
        {"8-bit PCM", {VideoStream(), AudioStream(WaveFormat(1, 8))}, "", ""},
        {"32-bit float written as 24-bit integers",
         {VideoStream(), AudioStream(ExtensibleFormat(3, 32))},
         "24",
         "its audio has 32-bit floating-point samples, the outputs only 24-bit ones"},
        {"32-bit float kept", {VideoStream(), AudioStream(WaveFormat(3, 32))}, "f32", ""},
        {"24-bit FLAC written as 16-bit",
         {VideoStream(), AudioStream(WaveFormat(0xF1AC, 16, FlacStreamInfo(24)))},
         "",
         "its audio has 24-bit samples, the outputs only 16-bit ones"},
        {"24-bit FLAC kept", {VideoStream(), AudioStream(WaveFormat(0xF1AC, 16, FlacStreamInfo(24, true)))}, "24", ""},
        {"16-bit FLAC", {VideoStream(), AudioStream(WaveFormat(0xF1AC, 16, FlacStreamInfo(16)))}, "", ""},
        {"24-bit FLAC as 32-bit float",
         {VideoStream(), AudioStream(WaveFormat(0xF1AC, 16, FlacStreamInfo(24)))},
         "f32",
         ""},
        {"FLAC without its stream information",
         {VideoStream(), AudioStream(WaveFormat(0xF1AC, 16))},
         "",
         "the precision of its audio cannot be told from its headers"},
        {"MP3, decoded to 16-bit", {VideoStream(), AudioStream(WaveFormat(0x55, 0))}, "", ""},
        {"no audio format header",
         {VideoStream(), StreamList({StreamHeader("auds")})},
         "",
         "the precision of its audio cannot be told from its headers"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const test::ScopedEnv samples("FAKE_SOUNDTRACK", row.soundtrack);
        const std::string a = clips / "a.avi";
        WriteFile(a, Avi(row.streams));
        window.entries = {a};
        window.deleteOriginal = true;
        window.subdir = false;
        const std::string message = Run();
        if (row.kept.empty()) {
            EXPECT_EQ(message, "");
            EXPECT_FALSE(fs::exists(a));
        } else {
            EXPECT_EQ(message, "1 file was converted, but its source file was not deleted:\n" + a + ": " + row.kept);
            EXPECT_EQ(ReadFile(a), Avi(row.streams));
        }
        for (const char* output : {".noaudio.avi", ".A1.wav", ".A2.wav"}) {
            EXPECT_TRUE(fs::exists(a + output)) << output;
            fs::remove(a + output);
        }
        EXPECT_FALSE(fs::exists(a + ".wav"));
        fs::remove(a);
    }
}

TEST_F(QueueRunTest, WhatTheVideoToolSaysItLeftOutKeepsTheSourceWhereTheHeadersShowNothing)
{
    const std::string a = Clip("a.avi");
    window.entries = {a};
    window.deleteOriginal = true;
    window.subdir = false;
    {
        const test::ScopedEnv warning("FAKE_VDUB_WARNING",
                                      "\"a.avi\" has 2 audio streams; only the first is in the soundtrack");
        EXPECT_EQ(Run(),
                  "1 file was converted, but its source file was not deleted:\n" + a +
                      ": the video tool says: \"a.avi\" has 2 audio streams; only the first is in the soundtrack");
        EXPECT_EQ(ReadFile(a), test::AviBytes(1));
    }
    for (const char* output : {".noaudio.avi", ".A1.wav", ".A2.wav"})
        fs::remove(a + output);
    EXPECT_EQ(Run(), ""); // with no warning it goes
    EXPECT_FALSE(fs::exists(a));
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

// What the folder holds, as names with a mark of their kind: what an entry must leave as it found it.
std::set<std::string> FolderHolds(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const auto status = fs::symlink_status(entry.path());
        std::string name = entry.path().filename().string();
        if (fs::is_symlink(status))
            name += " -> " + fs::read_symlink(entry.path()).string();
        else if (fs::is_directory(status))
            name += "/";
        else if (!fs::is_regular_file(status))
            name += " (special)";
        names.insert(name);
    }
    return names;
}

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

TEST_F(QueueRunTest, ASourceThatCannotBeDeletedIsReportedWithTheSystemsReason)
{
    const std::string a = Clip("a.avi");
    if (!test::MakeUndeletable(a))
        GTEST_SKIP() << "no way to make an undeletable file here";
    window.entries = {a};
    window.subdir = false;
    window.deleteOriginal = true;
    std::optional<EntryOutcome> outcome;
    struct Recorder : RunObserver {
        std::optional<EntryOutcome>& outcome;
        explicit Recorder(std::optional<EntryOutcome>& o) : outcome(o) {}
        void EntryFinished(int, const std::string&, const EntryOutcome& o) override { outcome = o; }
    } recorder(outcome);
    runner.Environment().observer = &recorder;
    const std::string message = Run();
    test::MakeDeletable(a);
    const std::string start =
        "1 file was converted, but its source file was not deleted:\n" + a + ": its source file could not be deleted: ";
    EXPECT_TRUE(message.starts_with(start)) << message;
    EXPECT_GT(message.size(), start.size()) << "no reason given";
    ASSERT_TRUE(outcome);
    EXPECT_TRUE(outcome->converted);
    EXPECT_FALSE(outcome->sourceDeleted);
    EXPECT_EQ(FolderHolds(clips.path().string()),
              (std::set<std::string>{"a.avi", "a.avi.noaudio.avi", "a.avi.A1.wav", "a.avi.A2.wav", "tools.log"}));
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

// Several entries at once (jobs > 1). The launcher runs in the entries' threads there: what it
// sees is kept in atomics and checked by the test's own thread.

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
