// Our vdub on its own, on real files: what it converts, what it warns of, what it refuses.
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "conversion_fixture.h"
#include "test_support.h"

namespace quorvil {
namespace {

namespace fs = std::filesystem;

TEST_F(ConversionTest, VdubOnItsOwn)
{
    // audio.SetSource(1) keeps the sound in the saved AVI; a bad statement names its line.
    const std::string source = clips / "in.avi";
    MakeAvi(source, kStereo + ":s=22050", "pcm_s16le");
    const std::string script = clips / "script.vdf";
    test::WriteFile(script, "VirtualDub.Open(\"" + source +
                                "\");\nVirtualDub.audio.SetSource(1);\n"
                                "VirtualDub.SaveCompatibleAVI(\"" +
                                source + ".both.avi\");\nVirtualDub.Close();\n");
    int code = -1;
    const std::string vdub = Q(app / "vdub");
    Capture(vdub + " /s " + Q(script) + " /min 2>&1", &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Probe(source + ".both.avi", "stream=codec_type"), "video\naudio\n");
    EXPECT_EQ(PacketHashes(source + ".both.avi", "a"), PacketHashes(source, "a"));

    test::WriteFile(script, "VirtualDub.Open(\"" + source + "\");\nVirtualDub.Explode();\n");
    EXPECT_EQ(Capture(vdub + " /s " + Q(script) + " 2>&1", &code),
              "vdub: " + script + ":2: unknown statement VirtualDub.Explode or wrong arguments\n");
    EXPECT_EQ(code, 1);
    Capture(vdub + " /x 2>&1", &code);
    EXPECT_EQ(code, 2);
}

// Runs vdub on a script that saves the soundtrack and the video of `source`; its exit code and what
// it said.
std::pair<int, std::string> RunVdub(const fs::path& app, const std::string& source, const std::string& out)
{
    const std::string script = out + ".vdf";
    test::WriteFile(script, "VirtualDub.Open(\"" + source + "\");\nVirtualDub.SaveWAV(\"" + out +
                                ".wav\");\nVirtualDub.SaveCompatibleAVI(\"" + out + ".avi\");\nVirtualDub.Close();\n");
    int code = -1;
    std::string said = Capture(Q(app / "vdub") + " /s " + Q(script) + " 2>&1 >/dev/null", &code);
    fs::remove(script);
    return {code, said};
}

// Bytes of the second audio stream's header made to say another stream type.
void RetypeSecondAudioStream(const std::string& path, const char* type)
{
    Patch(path, [type](std::string& b) { b.replace(b.find("auds", b.find("auds") + 4), 4, type); });
}

TEST_F(ConversionTest, VdubConvertsTheFirstStreamsAndWarnsOfEveryKindLeftOut)
{
    const std::string tone = "-f lavfi -i " + Q("sine=300:sample_rate=22050") + " ";
    const struct {
        const char* name;
        std::string inputs; // after the first video and the stereo sound
        std::string maps;
        const char* retype; // the second audio stream's new type, if any
        std::string warning;
    } rows[] = {
        {"two audio streams", tone, "-map 0:v -map 1:a -map 2:a", nullptr,
         "has 2 audio streams; only the first is in the soundtrack"},
        {"two video streams", "-f lavfi -i testsrc2=size=160x120:rate=25 ", "-map 0:v -map 1:a -map 2:v", nullptr,
         "has 2 video streams; only the first is in the video"},
        {"a subtitle stream", tone, "-map 0:v -map 1:a -map 2:a", "txts", "has 1 subtitle stream; it is in no output"},
        {"a data stream", tone, "-map 0:v -map 1:a -map 2:a", "dats", "has 1 data stream; it is in no output"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string source = clips / "many.avi";
        const std::string command =
            "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i " +
            Q(kStereo + ":s=44100") + " " + row.inputs + row.maps + " -t 2 -c:v mjpeg -c:a pcm_s16le -f avi " +
            Q(source);
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        if (row.retype)
            RetypeSecondAudioStream(source, row.retype);
        const auto [code, said] = RunVdub(app.path(), source, clips / "out");
        EXPECT_EQ(code, 0) << said;
        EXPECT_EQ(said, "vdub: warning: \"" + source + "\" " + row.warning + "\n");
        EXPECT_EQ(PacketHashes(clips / "out.avi", "v"), PacketHashes(source, "v:0"));
        EXPECT_TRUE(RawAudio(clips / "out.wav") == RawAudio(source));
        for (const char* name : {"many.avi", "out.avi", "out.wav"})
            fs::remove(clips / name);
        ExpectNoLeftovers();
    }
}

TEST_F(ConversionTest, VdubRefusesASourceThatIsNotARegularFileWithoutWaiting)
{
    const std::string fifo = clips / "x.avi";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A writer that never writes: an earlier vdub would then wait on its reads, not its open.
    const int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    const auto [code, said] = RunVdub(app.path(), fifo, clips / "out");
    ::close(writer);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(said, "vdub: cannot open \"" + fifo + "\": it is not a regular file\n");
    EXPECT_FALSE(fs::exists(clips / "out.wav"));
    ExpectNoLeftovers();
}

TEST_F(ConversionTest, VdubEndsWithOneLineAndLeavesNothingWhenAnOutputCannotBeMade)
{
    // The soundtrack is begun, then the video cannot be: a failure of the file layer, not of FFmpeg.
    const std::string source = clips / "a.avi";
    MakeAvi(source, kStereo + ":s=22050", "pcm_s16le");
    const std::string script = clips / "job.vdf";
    test::WriteFile(script, "VirtualDub.Open(\"" + source + "\");\nVirtualDub.SaveWAV(\"" + clips / "out.wav" +
                                "\");\nVirtualDub.SaveCompatibleAVI(\"" + clips / "none/out.avi" + "\");\n");
    int code = -1;
    const std::string said = Capture(Q(app / "vdub") + " /s " + Q(script) + " 2>&1", &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(said, "vdub: cannot write \"" + clips / "none/out.avi" + "\": No such file or directory\n");
    for (const auto& entry : fs::directory_iterator(clips.path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "a.avi" || name == "job.vdf") << "left behind: " << name;
    }
}

} // namespace
} // namespace quorvil
