// Our sox on its own, on real WAV files: the channel it copies, how it fails, what it hands on.
#include <algorithm>

#include <gtest/gtest.h>

#include "conversion_fixture.h"
#include "sox_cases.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::ReadFile;
using test::TempDir;
namespace fs = std::filesystem;

TEST_F(ConversionTest, SoxCopiesAnyChannelOfAnyPcmFormatSampleForSample)
{
    int code = -1;
    for (const auto& row : test::kSoxFormats) {
        SCOPED_TRACE(row.codec + std::string(" ") + std::to_string(row.channels));
        const std::string in = clips / "in.wav";
        std::string expr;
        for (int c = 0; c < row.channels; ++c)
            expr += (c ? "|" : "") + std::string("0.") + std::to_string(c + 1) + "*sin(" +
                    std::to_string(200 * (c + 1)) + "*2*PI*t)";
        // 8008 frames: a stereo copy's last frames fall outside its blocks of 16.
        ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -f lavfi -i " + Q("aevalsrc=" + expr + ":s=8000") +
                               " -t 1.001 -c:a " + row.codec + " " + Q(in))
                                  .c_str()),
                  0);
        const std::string raw = RawAudio(in);
        for (int channel = 1; channel <= row.channels; ++channel) {
            const std::string out = clips / ("c" + std::to_string(channel) + ".wav");
            Capture(Q(app / "sox") + " " + Q(in) + " " + Q(out) + " remix " +
                        (channel == 1 ? "-1" : std::to_string(channel)),
                    &code);
            ASSERT_EQ(code, 0) << "channel " << channel;
            EXPECT_EQ(Probe(out, "stream=channels,codec_name,sample_rate"), std::string(row.codec) + ",8000,1\n");
            // More than 16 bits: an extensible header, as FFmpeg writes it, that says integer or float.
            const int tag = row.isFloat ? 3 : 1;
            EXPECT_EQ(FormatTags(out), std::make_pair(row.bytesPerSample > 2 ? 0xFFFE : tag, tag));
            EXPECT_TRUE(RawAudio(out) == Channel(raw, row.channels, row.bytesPerSample, channel - 1))
                << "channel " << channel << " differs";
        }
    }

    // A soundtrack of several of the chunks sox reads and writes at a time (2 MiB), ending in part
    // of one: every chunk lands, in its place.
    const std::string in = clips / "long.wav";
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -f lavfi -i " +
                           Q("aevalsrc=sin(100*t*t)|0.5*sin(300*2*PI*t)|0.3*sin(7*t*t):s=48000") +
                           " -t 17 -c:a pcm_s16le " + Q(in))
                              .c_str()),
              0);
    const std::string raw = RawAudio(in);
    ASSERT_GT(raw.size(), std::size_t{2} * (2 << 20));
    for (const int channel : {1, 3}) {
        const std::string out = clips / ("long" + std::to_string(channel) + ".wav");
        Capture(Q(app / "sox") + " " + Q(in) + " " + Q(out) + " remix " + std::to_string(channel), &code);
        ASSERT_EQ(code, 0);
        EXPECT_TRUE(RawAudio(out) == Channel(raw, 3, 2, channel - 1)) << "channel " << channel << " differs";
    }
}

TEST_F(ConversionTest, SoxFailsCleanlyOnBadInputAndFullDiskAndHandsOtherCommandsToSoX)
{
    const std::string in = clips / "in [1].wav"; // SoX itself would read "[1]" as a pattern
    ASSERT_EQ(std::system(
                  ("ffmpeg -nostdin -v error -f lavfi -i " + Q(kStereo + ":s=44100") + " -t 1 -c:a pcm_s16le " + Q(in))
                      .c_str()),
              0);
    const std::string whole = ReadFile(in);
    const std::string truncated = clips / "truncated.wav";
    test::WriteFile(truncated, whole.substr(0, 20000));
    const std::string oneFrameShort = clips / "one frame short.wav"; // the sample data ends the file
    test::WriteFile(oneFrameShort, whole.substr(0, whole.size() - 4));
    const std::string text = clips / "text.wav";
    test::WriteFile(text, "not a sound file\n");
    const std::string out = clips / "out.wav";
    struct Row {
        std::string input;
        std::string output;
        std::string channel;
        std::string message;
    };
    // A full disk: a small file system of our own, when we may mount one.
    TempDir full;
    const bool mounted =
        std::system(("mount -t tmpfs -o size=64k tmpfs " + Q(full.path().string()) + " 2>/dev/null").c_str()) == 0;
    std::vector<Row> rows;
    for (const auto& failure : test::kSoxFailures) {
        switch (failure.fault) {
        case test::SoxFault::missingChannel:
            rows.push_back({in, out, failure.channel, failure.message});
            break;
        case test::SoxFault::truncated:
            rows.push_back({truncated, out, failure.channel, failure.message});
            break;
        case test::SoxFault::oneFrameShort:
            rows.push_back({oneFrameShort, out, failure.channel, failure.message});
            break;
        case test::SoxFault::notSound:
            rows.push_back({text, out, failure.channel, failure.message});
            break;
        case test::SoxFault::unwritableFolder:
            rows.push_back({in, "/dev/full/out.wav", failure.channel, failure.message});
            break;
        case test::SoxFault::fullDisk:
            if (mounted)
                rows.push_back({in, full / "out.wav", failure.channel, "No space left on device"});
            else
                std::fprintf(stderr, "not root: the full-disk case is skipped\n");
            break;
        }
    }
    int code = -1;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.input + " -> " + row.output);
        const std::string said = Capture(
            Q(app / "sox") + " " + Q(row.input) + " " + Q(row.output) + " remix " + row.channel + " 2>&1", &code);
        EXPECT_EQ(code, 2);
        EXPECT_NE(said.find(row.message), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_FALSE(fs::exists(row.output));
        for (const auto& dir : {clips.path(), full.path()})
            for (const auto& entry : fs::directory_iterator(dir))
                EXPECT_FALSE(entry.path().filename().string().starts_with(".sox-")) << entry.path();
    }
    if (mounted)
        (void)!std::system(("umount " + Q(full.path().string())).c_str());

    // Another command line is SoX's own: mixing two channels, or the version.
    Capture(Q(app / "sox") + " " + Q(in) + " " + Q(out) + " remix 1,2", &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Probe(out, "stream=channels"), "1\n");
    EXPECT_NE(Capture(Q(app / "sox") + " --version").find("SoX v"), std::string::npos);
}

TEST_F(ConversionTest, SoxTellsAnIncompleteWavByTheSizeItsHeaderStates)
{
    std::string samples(8001, '\0'); // an odd number of 8-bit samples: a data chunk with a pad byte
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<char>(i * 7);
    const std::string u8 = test::PcmWavBytes(1, 1, false, 8000, samples);
    std::string wide(6 * 4000, '\0');
    for (std::size_t i = 0; i < wide.size(); ++i)
        wide[i] = static_cast<char>(i * 13);
    const std::string s24 = test::PcmWavBytes(2, 3, false, 8000, wide);
    std::string longRiff = s24;
    longRiff.replace(4, 4, test::LittleEndian(s24.size() + 1000, 4)); // trailing chunks lost, the samples all there
    const std::string in = clips / "in.wav";
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -f lavfi -i " + Q(kStereo + ":s=8000") +
                           " -t 1 -c:a pcm_s24le -rf64 always " + Q(in))
                              .c_str()),
              0);
    const std::string rf64 = ReadFile(in);
    const struct {
        const char* name;
        std::string bytes;
        bool complete;
        int bytesPerSample;
        int channels;
    } rows[] = {
        {"8-bit mono, odd size", u8, true, 1, 1},
        {"24-bit, RIFF size past the end", longRiff, true, 3, 2},
        {"24-bit extensible, cut short", s24.substr(0, s24.size() - 600), false, 3, 2},
        {"RF64, cut short", rf64.substr(0, rf64.size() - 600), false, 3, 2},
    };
    const std::string out = clips / "out.wav";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::WriteFile(in, row.bytes);
        int code = -1;
        const std::string said = Capture(Q(app / "sox") + " " + Q(in) + " " + Q(out) + " remix 1 2>&1", &code);
        if (row.complete) {
            EXPECT_EQ(code, 0) << said;
            EXPECT_TRUE(RawAudio(out) == Channel(RawAudio(in), row.channels, row.bytesPerSample, 0));
        } else {
            EXPECT_EQ(code, 2);
            EXPECT_EQ(said, "sox: \"" + in + "\" is shorter than its header says: the file is incomplete\n");
            EXPECT_FALSE(fs::exists(out));
        }
        fs::remove(out);
    }
}

} // namespace
} // namespace quorvil
