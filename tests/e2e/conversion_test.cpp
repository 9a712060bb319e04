// quorvil-split with our vdub and sox on real files, made here by the ffmpeg tool: what the outputs
// hold, checked the way a user's other tools read them.
#include <algorithm>

#include <gtest/gtest.h>

#include "conversion_fixture.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::ReadFile;
using test::TempDir;
namespace fs = std::filesystem;

struct PcmRow {
    const char* name;
    const char* audio;
    const char* codec;
    int channels;
    int bytesPerSample;
};

TEST_F(ConversionTest, PcmSourcesAreSplitSampleForSample)
{
    const PcmRow rows[] = {
        {"s16 stereo", kStereo.c_str(), "pcm_s16le", 2, 2},
        {"u8 stereo", kStereo.c_str(), "pcm_u8", 2, 1},
        {"s24 stereo", kStereo.c_str(), "pcm_s24le", 2, 3},
        {"s32 stereo", kStereo.c_str(), "pcm_s32le", 2, 4},
        {"f32 stereo", kStereo.c_str(), "pcm_f32le", 2, 4},
        {"f64 stereo", kStereo.c_str(), "pcm_f64le", 2, 8},
        {"s16 5.1", "aevalsrc=0.1*sin(300*2*PI*t)|0.2*sin(500*2*PI*t)|0.3*sin(700*2*PI*t)|0.1|0.2|0.3:c=5.1",
         "pcm_s16le", 6, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string source = clips / (std::string(row.name) + ".avi");
        MakeAvi(source, std::string(row.audio) + ":s=44100", row.codec);
        ASSERT_EQ(Split(Q(source)), 0) << output;
        const std::string out = source + "_processed/" + row.name + ".avi";

        // The video: one stream, no sound, every packet as it was.
        EXPECT_EQ(Probe(out, "stream=codec_type"), "video\n");
        const std::string hashes = PacketHashes(source, "v");
        EXPECT_EQ(std::count(hashes.begin(), hashes.end(), '\n'), 50);
        EXPECT_EQ(PacketHashes(out, "v"), hashes);
        EXPECT_EQ(Probe(out, "stream=r_frame_rate"), "25/1\n");

        // The channels: mono files holding the source's first and second channel, bit for bit.
        const std::string raw = RawAudio(source);
        ASSERT_FALSE(raw.empty());
        for (int channel = 0; channel < 2; ++channel) {
            const std::string wav = out + (channel == 0 ? ".A1.wav" : ".A2.wav");
            EXPECT_EQ(Probe(wav, "stream=channels,codec_name"), std::string(row.codec) + ",1\n");
            EXPECT_TRUE(RawAudio(wav) == Channel(raw, row.channels, row.bytesPerSample, channel))
                << "channel " << channel + 1 << " differs";
        }
        EXPECT_TRUE(fs::exists(source));
    }
    ExpectNoLeftovers();
}

TEST_F(ConversionTest, CompressedAudioIsDecoded)
{
    const struct {
        const char* codec;
        int rate;
    } rows[] = {{"libmp3lame", 44100}, {"ac3", 48000}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.codec);
        const std::string source = clips / (std::string(row.codec) + ".avi");
        MakeAvi(source, kStereo + ":s=" + std::to_string(row.rate), row.codec);
        ASSERT_EQ(Split("--no-subdir --delete " + Q(source)), 0) << output;
        EXPECT_EQ(PacketHashes(source + ".noaudio.avi", "v").size() > 0, true);
        EXPECT_EQ(Probe(source + ".noaudio.avi", "stream=codec_type"), "video\n");
        EXPECT_EQ(Probe(source + ".A1.wav", "stream=channels,codec_name"), "pcm_s16le,1\n");
        EXPECT_NEAR(Frequency(source + ".A1.wav"), 440, 15);
        EXPECT_NEAR(Frequency(source + ".A2.wav"), 1000, 25);
        EXPECT_FALSE(fs::exists(source));
    }
    ExpectNoLeftovers();
}

TEST_F(ConversionTest, SourcesThatCannotBeSplitAreReportedAndKept)
{
    const std::string mono = clips / "mono.avi";
    MakeAvi(mono, "sine=440:sample_rate=44100", "pcm_s16le");
    const std::string silent = clips / "silent.avi";
    MakeAvi(silent, "", "");
    const std::string broken = clips / "broken.avi";
    test::WriteFile(broken, "RIFF\x10\0\0\0AVI not really");
    const std::string good = clips / "good.avi";
    MakeAvi(good, kStereo + ":s=22050", "pcm_s16le");

    EXPECT_EQ(Split("--no-subdir --delete mono.avi silent.avi broken.avi good.avi"), 1);
    EXPECT_NE(output.find("3 files were not converted; their source files were kept:\n" + mono +
                          ": it has one audio channel; there is no right channel\n" + silent +
                          ": vdub ended with exit code 1 (vdub: \"" + silent + "\" has no audio stream)\n" + broken +
                          ": vdub ended with exit code 1 (vdub: cannot open \"" + broken + "\": "),
              std::string::npos)
        << output;
    for (const auto& kept : {mono, silent, broken})
        EXPECT_TRUE(fs::exists(kept)) << kept;
    EXPECT_FALSE(fs::exists(good));
    EXPECT_FALSE(fs::exists(silent + ".noaudio.avi")); // vdub leaves nothing half-done
    ExpectNoLeftovers();
}

TEST_F(ConversionTest, HostileFileNames)
{
    for (const std::string name : {"a b \"quoted\" \\ back.avi", "caf\xc3\xa9 $(id) 'x'.avi", "-dash.avi"}) {
        SCOPED_TRACE(name);
        const std::string source = clips / name;
        MakeAvi(source, kStereo + ":s=22050", "pcm_s16le");
        ASSERT_EQ(Split("-- " + Q(name)), 0) << output;
        const std::string out = source + "_processed/" + name;
        EXPECT_EQ(PacketHashes(out, "v"), PacketHashes(source, "v"));
        EXPECT_EQ(Probe(out + ".A2.wav", "stream=channels"), "1\n");
    }
    ExpectNoLeftovers();
}

TEST_F(ConversionTest, ThreeJobsWriteTheSameFilesAsOne)
{
    // Real tools side by side: each writes its temporary files and reads its script while the
    // others do, and nothing of one entry may reach another's.
    const std::vector<std::string> audio = {kStereo + ":s=22050", "aevalsrc=sin(300*2*PI*t)|0.3*sin(700*2*PI*t):s=8000",
                                            kStereo + ":s=48000", "anoisesrc=r=11025,pan=stereo|c0=c0|c1=0.5*c0"};
    std::vector<std::string> names;
    for (std::size_t i = 0; i < audio.size(); ++i) {
        names.push_back("clip" + std::to_string(i) + ".avi");
        MakeAvi(clips / names.back(), audio[i], "pcm_s16le");
    }
    const TempDir one;
    for (const auto& name : names)
        fs::copy_file(clips / name, one / name);

    ASSERT_EQ(Split("-j 3 --delete clip0.avi clip1.avi clip2.avi clip3.avi"), 0) << output;
    int code = -1;
    Capture("cd " + Q(one.path().string()) + " && " + Q(app / "quorvil-split") +
                " --delete clip0.avi clip1.avi clip2.avi clip3.avi",
            &code);
    ASSERT_EQ(code, 0);
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(fs::exists(clips / name));
        for (const std::string& file : {name, name + ".A1.wav", name + ".A2.wav"}) {
            const std::string path = name + "_processed/" + file;
            EXPECT_EQ(ReadFile(clips / path), ReadFile(one / path)) << path;
            EXPECT_FALSE(ReadFile(clips / path).empty()) << path;
        }
    }
    ExpectNoLeftovers();
}

TEST_F(ConversionTest, LosslessSoundtracksKeepTheirPrecisionLossyOnesBecome16Bit)
{
    const struct {
        const char* name;
        const char* encode;
        const char* codec; // of the channel files
        const char* raw;   // the ffmpeg tool's raw format for the same samples; empty: not compared
    } rows[] = {
        {"flac 16-bit", "flac -sample_fmt s16", "pcm_s16le,16", "s16le"},
        {"flac 24-bit", "flac -sample_fmt s32 -bits_per_raw_sample 24", "pcm_s24le,24", "s24le"},
        {"mp3", "libmp3lame", "pcm_s16le,16", ""},
        {"ac3", "ac3", "pcm_s16le,16", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string source = clips / (std::string(row.name) + ".avi");
        MakeAvi(source, kStereo + ":s=48000", row.encode);
        ASSERT_EQ(Split("--no-subdir " + Q(source)), 0) << output;
        for (int channel = 0; channel < 2; ++channel) {
            const std::string wav = source + (channel == 0 ? ".A1.wav" : ".A2.wav");
            EXPECT_EQ(Probe(wav, "stream=codec_name,bits_per_sample"), std::string(row.codec) + "\n");
            // More than 16 bits: an extensible header that says integer PCM.
            const bool wide = std::string(row.codec).ends_with("24");
            EXPECT_EQ(FormatTags(wav), std::make_pair(wide ? 0xFFFE : 1, 1));
            if (*row.raw) {
                const std::string decoded =
                    Capture("ffmpeg -nostdin -v error -i " + Q(source) + " -map 0:a:0 -f " + row.raw + " -");
                EXPECT_TRUE(RawAudio(wav) == Channel(decoded, 2, wide ? 3 : 2, channel))
                    << "channel " << channel + 1 << " differs";
            }
        }
    }
    ExpectNoLeftovers();
}

// Two raw audio streams, one after the other, in one AVI: a stream that changes on the way.
void MakeChangingAvi(const std::string& path, const std::string& first, const std::string& second,
                     const std::string& codec, const std::string& format)
{
    const std::string raw = path + "." + format;
    for (const auto& [part, suffix] : {std::pair(first, ".1"), std::pair(second, ".2")}) {
        const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i " + Q(part) + " -t 1 -c:a " + codec +
                                    " -f " + format + " " + Q(raw + suffix);
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    test::WriteFile(raw, ReadFile(raw + ".1") + ReadFile(raw + ".2"));
    const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -i " + Q(raw) +
                                " -t 2 -c:v mjpeg -c:a copy -f avi " + Q(path);
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    for (const std::string& name : {raw, raw + ".1", raw + ".2"})
        fs::remove(name);
}

TEST_F(ConversionTest, AudioThatChangesChannelsOrRateOnTheWayFailsWithTheReason)
{
    const struct {
        const char* name;
        std::string first;
        std::string second;
        const char* codec;
        const char* format;
        const char* says;
    } rows[] = {
        {"ac3, 5.1 then stereo", "sine=440:sample_rate=48000,pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0",
         "sine=440:sample_rate=48000,pan=stereo|c0=c0|c1=c0", "ac3", "ac3",
         "the audio changes from 6 to 2 channels after"},
        {"mp3, 44.1 then 48 kHz", "sine=440:sample_rate=44100", "sine=440:sample_rate=48000",
         "libmp3lame -write_xing 0 -id3v2_version 0", "mp3",
         "the audio changes its sample rate from 44100 to 48000 Hz"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string source = clips / "changing.avi";
        MakeChangingAvi(source, row.first, row.second, row.codec, row.format);
        const std::string original = ReadFile(source);
        EXPECT_EQ(Split("--no-subdir --delete " + Q(source)), 1);
        EXPECT_NE(output.find("vdub: " + std::string(row.says)), std::string::npos) << output;
        EXPECT_TRUE(ReadFile(source) == original);
        EXPECT_FALSE(fs::exists(source + ".noaudio.avi"));
        EXPECT_FALSE(fs::exists(source + ".A1.wav"));
        ExpectNoLeftovers();
        fs::remove(source);
    }
}

} // namespace
} // namespace quorvil
