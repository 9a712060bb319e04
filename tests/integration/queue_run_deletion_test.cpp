// When the queue run deletes a source: only when its content is provably in the outputs, and what it
// says when it keeps one.
#include <chrono>
#include <fstream>
#include <optional>

#include <gtest/gtest.h>

#include "file_ops.h"
#include "queue_run.h"
#include "queue_run_fixture.h"
#include "riff_writer.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::ReadFile;
using test::WriteFile;
namespace fs = std::filesystem;

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

} // namespace
} // namespace quorvil
