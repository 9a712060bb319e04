// quorvil-split with our vdub and sox on real files, made here by the ffmpeg tool,
// checked the way a user's other tools read them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "command_line.h"
#include "sox_cases.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::ReadFile;
using test::TempDir;
namespace fs = std::filesystem;

std::string Q(const std::string& s)
{
    std::string quoted = "'";
    for (char c : s)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs a shell command; its standard output, and its exit code in `code`.
std::string Capture(const std::string& command, int* code = nullptr)
{
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::string out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0)
        out.append(buffer, n);
    const int status = ::pclose(pipe.release());
    if (code)
        *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

const std::string kStereo = "aevalsrc=0.5*sin(440*2*PI*t)|0.5*sin(1000*2*PI*t)";

// An AVI with MJPEG video and the given audio, two seconds long.
void MakeAvi(const std::string& path, const std::string& audioSource, const std::string& audioCodec)
{
    std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=160x120:rate=25 ";
    if (!audioSource.empty())
        command += "-f lavfi -i " + Q(audioSource) + " ";
    command += "-t 2 -c:v mjpeg " + (audioSource.empty() ? "" : "-c:a " + audioCodec + " ") + "-f avi " + Q(path);
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

std::string Probe(const std::string& path, const std::string& entries)
{
    return Capture("ffprobe -v error -show_entries " + entries + " -of csv=p=0 " + Q(path));
}

// The stream's packets as ffmpeg's framemd5 sees them in a stream copy, without the header
// (which names the library that wrote the file).
std::string PacketHashes(const std::string& path, const std::string& stream)
{
    const std::string all =
        Capture("ffmpeg -nostdin -v error -i " + Q(path) + " -map 0:" + stream + " -c copy -f framemd5 -");
    std::string hashes;
    std::size_t pos = 0;
    while (pos < all.size()) {
        std::size_t end = all.find('\n', pos);
        if (end == std::string::npos)
            end = all.size();
        if (all[pos] != '#')
            hashes += all.substr(pos, end - pos) + "\n";
        pos = end + 1;
    }
    return hashes;
}

// The audio stream's raw sample bytes, as stored.
std::string RawAudio(const std::string& path)
{
    return Capture("ffmpeg -nostdin -v error -i " + Q(path) + " -map 0:a:0 -c copy -f data -");
}

// One channel of interleaved samples.
std::string Channel(const std::string& raw, int channels, int bytesPerSample, int channel)
{
    std::string out;
    const std::size_t frame = static_cast<std::size_t>(channels * bytesPerSample);
    for (std::size_t i = 0; i + frame <= raw.size(); i += frame)
        out.append(raw, i + static_cast<std::size_t>(channel * bytesPerSample),
                   static_cast<std::size_t>(bytesPerSample));
    return out;
}

// The main frequency of a WAV file's 16-bit samples, from its zero crossings.
double Frequency(const std::string& wav)
{
    const std::string raw = Capture("ffmpeg -nostdin -v error -i " + Q(wav) + " -f s16le -c:a pcm_s16le -");
    const auto* samples = reinterpret_cast<const std::int16_t*>(raw.data());
    const std::size_t count = raw.size() / 2;
    // Only swings past a margin count, so that codec noise around silence does not.
    std::size_t crossings = 0;
    int side = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int now = samples[i] > 2000 ? 1 : samples[i] < -2000 ? -1 : side;
        crossings += side != 0 && now != side;
        side = now;
    }
    const double rate = std::stod(Probe(wav, "stream=sample_rate"));
    return static_cast<double>(crossings) / 2.0 / (static_cast<double>(count) / rate);
}

// A folder holding copies of quorvil-split, vdub and sox: each finds its tools by its own path.
class ConversionTest : public ::testing::Test {
protected:
    ConversionTest()
    {
        for (const char* program : {QUORVIL_SPLIT, VDUB, SOX})
            fs::copy_file(program, app / fs::path(program).filename().string());
    }

    int Split(const std::string& arguments)
    {
        int code = -1;
        output = Capture(
            "cd " + Q(clips.path().string()) + " && " + Q(app / "quorvil-split") + " " + arguments + " 2>&1", &code);
        return code;
    }

    // Nothing but the sources and the outputs is left behind.
    void ExpectNoLeftovers(const fs::path& where = {})
    {
        EXPECT_FALSE(fs::exists(app / "temp.vdf"));
        for (const auto& entry : fs::recursive_directory_iterator(where.empty() ? clips.path() : where)) {
            const std::string name = entry.path().filename().string();
            EXPECT_FALSE(name.starts_with(".vdub-") || name.starts_with(".sox-")) << name;
            if (!entry.path().parent_path().string().ends_with("_processed") && name.ends_with(".wav")) {
                EXPECT_TRUE(name.ends_with(".A1.wav") || name.ends_with(".A2.wav")) << name;
            }
        }
    }

    TempDir app;
    TempDir clips;
    std::string output;
};

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
    EXPECT_NE(output.find("3 files were not converted, and their source files were not deleted:\n" + mono +
                          ": sox for the right channel ended with exit code 2 (sox: \"" + mono +
                          ".wav\" has 1 channel, so there is no channel 2)\n" + silent +
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

// Bytes of a file changed in place, as damage or an unusual muxer would leave them.
void Patch(const std::string& path, const std::function<void(std::string&)>& change)
{
    std::string bytes = ReadFile(path);
    change(bytes);
    test::WriteFile(path, bytes);
}

std::uint32_t Le32(const std::string& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;)
        value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

void HideIndex(std::string& bytes)
{
    bytes.replace(bytes.rfind("idx1"), 4, "JUNK");
}

TEST_F(ConversionTest, ASourceIsDeletedOnlyWithItsWholeContentInTheOutputs)
{
    const struct {
        const char* name;
        const char* audio; // lavfi source
        const char* codec;
        std::function<void(std::string&)> damage;
        bool converted;
        bool deleted;
        std::string says;
    } rows[] = {
        {"no index", "", "pcm_s16le", HideIndex, true, true, ""},
        {"damaged index", "", "pcm_s16le",
         [](std::string& b) {
             const std::size_t entry = b.rfind("idx1") + 8 + 16 * 4; // a few entries in: change a chunk's size
             b.replace(entry + 12, 4, test::LittleEndian(Le32(b, entry + 12) / 2, 4));
         },
         false, false, "does not agree with its data"},
        {"odd PCM chunk", "", "pcm_s16le",
         [](std::string& b) {
             // 4096 bytes become 4095 and a pad byte: the chunks after it stay where they were.
             const std::size_t chunk = b.find("01wb");
             ASSERT_EQ(Le32(b, chunk + 4) % 2, 0u);
             b.replace(chunk + 4, 4, test::LittleEndian(Le32(b, chunk + 4) - 1, 4));
             HideIndex(b);
         },
         true, true, ""},
        {"undecodable audio", "", "libmp3lame",
         [](std::string& b) { b.replace(b.find("strf", b.find("auds")) + 8, 2, test::LittleEndian(0x2000, 2)); }, false,
         false, "cannot decode the audio"},
        {"5.1",
         "aevalsrc=0.5*sin(440*2*PI*t)|0.5*sin(1000*2*PI*t)|0.1|0.1|0.1|0.1:c=5.1:s=44100",
         "pcm_s16le",
         {},
         true,
         false,
         "it has 6 audio channels; only the first two are in the outputs"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string source = clips / "take[1].avi"; // SoX would read "[1]" as a pattern
        MakeAvi(source, *row.audio ? row.audio : kStereo + ":s=44100", row.codec);
        // What a pattern would find instead: another file's soundtrack, which must not be read.
        test::WriteFile(clips / "take1.avi.wav", test::WavBytes(2, 100, 44100));
        if (row.damage)
            Patch(source, row.damage);
        const std::string original = ReadFile(source);
        const std::string decoded = Capture("ffmpeg -nostdin -v error -i " + Q(source) + " -map 0:a:0 -f s16le -");
        Split("--no-subdir --delete " + Q(source));
        EXPECT_NE(output.find(row.says), std::string::npos) << output;
        EXPECT_EQ(output.find(row.converted ? "not converted" : "[1/1] converted"), std::string::npos) << output;
        EXPECT_EQ(fs::exists(source), !row.deleted);
        if (!row.deleted) {
            EXPECT_TRUE(ReadFile(source) == original);
        }
        if (row.converted) {
            // Every frame, and every whole sample as FFmpeg's decoder reads them, partial ones left out.
            const std::string hashes = PacketHashes(source + ".noaudio.avi", "v");
            EXPECT_EQ(std::count(hashes.begin(), hashes.end(), '\n'), 50);
            EXPECT_TRUE(RawAudio(source + ".A2.wav") == Channel(decoded, *row.audio ? 6 : 2, 2, 1));
        } else {
            EXPECT_FALSE(fs::exists(source + ".noaudio.avi"));
            EXPECT_FALSE(fs::exists(source + ".A1.wav"));
        }
        fs::remove(clips / "take1.avi.wav");
        ExpectNoLeftovers();
        for (const auto& entry : fs::directory_iterator(clips.path()))
            fs::remove(entry.path());
    }
}

// The chunks of the n-th stream list (strl) of an AVI file, rearranged in place: the same bytes in
// another order, so that nothing after them moves.
void ReorderStreamList(std::string& bytes, int n, const std::vector<std::string>& order)
{
    std::size_t list = 0;
    for (int i = 0; i <= n; ++i)
        list = bytes.find("strl", list + (i ? 4 : 0));
    ASSERT_NE(list, std::string::npos);
    const std::size_t end = list - 8 + 8 + Le32(bytes, list - 4);
    std::map<std::string, std::string> chunks;
    for (std::size_t at = list + 4; at + 8 <= end;) {
        const std::uint32_t size = Le32(bytes, at + 4);
        const std::size_t whole = 8 + size + (size & 1);
        chunks[bytes.substr(at, 4)] = bytes.substr(at, whole);
        at += whole;
    }
    std::string body;
    for (const auto& id : order)
        body += chunks.at(id);
    ASSERT_EQ(body.size(), end - list - 4);
    bytes.replace(list + 4, body.size(), body);
}

// The n-th stream header's type, changed in place.
void SetStreamType(std::string& bytes, int n, const std::string& type)
{
    std::size_t header = 0;
    for (int i = 0; i <= n; ++i)
        header = bytes.find("strh", header + (i ? 4 : 0));
    bytes.replace(header + 8, 4, type);
}

TEST_F(ConversionTest, ASourceWithAStreamTheOutputsCannotCarryIsConvertedAndKept)
{
    const std::string only = "; only the first video and the first audio stream are in the outputs";
    const struct {
        const char* name;
        const char* maps; // ffmpeg's -map options: input 0 is the video, input 1 the sound
        std::function<void(std::string&)> change;
        std::string reason;
    } rows[] = {
        {"a second video stream", "-map 0:v -map 0:v -map 1:a", {}, "it has 2 video streams and 1 audio stream" + only},
        {"a second audio stream whose list begins with JUNK", "-map 0:v -map 1:a -map 1:a",
         [](std::string& b) {
             ReorderStreamList(b, 2, {"JUNK", "strh", "strf"});
         },
         "it has 2 audio streams; only the first is in the outputs"},
        {"a subtitle stream", "-map 0:v -map 1:a -map 1:a", [](std::string& b) { SetStreamType(b, 2, "txts"); },
         "it has 1 video stream, 1 audio stream and 1 subtitle stream" + only},
        {"a data stream", "-map 0:v -map 1:a -map 1:a", [](std::string& b) { SetStreamType(b, 2, "dats"); },
         "it has 1 video stream, 1 audio stream and 1 data stream" + only},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string source = clips / "a.avi";
        const std::string command =
            "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i " +
            Q(kStereo + ":s=44100") + " -t 2 " + row.maps + " -c:v mjpeg -c:a pcm_s16le -f avi " + Q(source);
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        if (row.change)
            Patch(source, row.change);
        const std::string original = ReadFile(source);
        const std::string hashes = PacketHashes(source, "v:0");
        EXPECT_EQ(Split("--no-subdir --delete a.avi"), 0) << output;
        EXPECT_NE(output.find("1 file was converted, but its source file was not deleted:\n" + source + ": " +
                              row.reason + "\n"),
                  std::string::npos)
            << output;
        EXPECT_TRUE(ReadFile(source) == original);
        EXPECT_EQ(PacketHashes(source + ".noaudio.avi", "v"), hashes);
        EXPECT_EQ(Probe(source + ".A2.wav", "stream=channels"), "1\n");
        ExpectNoLeftovers();
        for (const auto& entry : fs::directory_iterator(clips.path()))
            fs::remove(entry.path());
    }
}

TEST_F(ConversionTest, A24BitFlacSourceIsDeletedOnlyWhenTheOutputsHoldEveryBit)
{
    const std::string source = clips / "a.avi";
    MakeAvi(source, kStereo + ":s=44100", "flac -sample_fmt s32 -bits_per_raw_sample 24");
    ASSERT_TRUE(Probe(source, "stream=bits_per_raw_sample").ends_with("\n24\n"));
    const std::string decoded = Capture("ffmpeg -nostdin -v error -i " + Q(source) + " -map 0:a:0 -f s32le -");
    Split("--no-subdir --delete a.avi");
    if (fs::exists(source)) {
        EXPECT_NE(output.find(source + ": its audio has 24-bit samples, the outputs only 16-bit ones"),
                  std::string::npos)
            << output;
    } else {
        // Deleted: the channel files hold every bit FFmpeg's decoder gives.
        const std::string left =
            Capture("ffmpeg -nostdin -v error -i " + Q(source + ".A1.wav") + " -f s32le -c:a pcm_s32le -");
        EXPECT_TRUE(left == Channel(decoded, 2, 4, 0));
    }
    EXPECT_TRUE(fs::exists(source + ".A1.wav"));
    ExpectNoLeftovers();
}

TEST_F(ConversionTest, TwoRunsOnOneFileLeaveItConvertedOnceAndDeletedWithItsOutputsWhole)
{
    // Two quorvil-split at once over the same file, the outputs beside it and the source deleted:
    // whichever comes second finds it held, or gone, and touches nothing.
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const std::string source = clips / "a.avi";
        MakeAvi(source, kStereo + ":s=44100", "pcm_s16le");
        const std::string hashes = PacketHashes(source, "v");
        const std::string raw = RawAudio(source);
        const std::string split = Q(app / "quorvil-split") + " --no-subdir --delete a.avi";
        int code = -1;
        const std::string both = Capture("cd " + Q(clips.path().string()) + " && (" + split + " >one 2>&1 & " + split +
                                             " >two 2>&1; a=$?; wait $!; b=$?; echo $a $b; cat one two)",
                                         &code);
        EXPECT_TRUE(both.starts_with("0 1\n") || both.starts_with("1 0\n")) << both;
        EXPECT_TRUE(both.find(": the source file is locked: another run of Quorvil is converting it") !=
                        std::string::npos ||
                    both.find(": the source file cannot be opened (No such file or directory)") != std::string::npos)
            << both;
        EXPECT_FALSE(fs::exists(source));
        EXPECT_EQ(PacketHashes(source + ".noaudio.avi", "v"), hashes);
        EXPECT_TRUE(RawAudio(source + ".A2.wav") == Channel(raw, 2, 2, 1));
        ExpectNoLeftovers();
        for (const auto& entry : fs::directory_iterator(clips.path()))
            fs::remove(entry.path());
    }
}

TEST_F(ConversionTest, ASourceInAStickyFolderOfAnotherUserIsConvertedAndItsDeletionFailureReported)
{
    // Another user's file in a folder everyone may write to, the sticky bit set: an ordinary user
    // may read it and write beside it, but not delete it.
    if (::geteuid() != 0)
        GTEST_SKIP() << "not root: no second user to be";
    const std::string source = clips / "a.avi";
    MakeAvi(source, kStereo + ":s=44100", "pcm_s16le");
    fs::permissions(clips.path(), fs::perms::all | fs::perms::sticky_bit);
    int code = -1;
    output = Capture("cd " + Q(clips.path().string()) +
                         " && setpriv --reuid=65534 --regid=65534 --clear-groups env -u XDG_RUNTIME_DIR " +
                         Q(app / "quorvil-split") + " --no-subdir --delete a.avi 2>&1",
                     &code);
    EXPECT_NE(output.find("1 file was converted, but its source file was not deleted:\n" + source +
                          ": its source file could not be deleted: Operation not permitted\n"),
              std::string::npos)
        << output;
    EXPECT_TRUE(fs::exists(source));
    EXPECT_EQ(PacketHashes(source + ".noaudio.avi", "v"), PacketHashes(source, "v"));
    EXPECT_TRUE(RawAudio(source + ".A1.wav") == Channel(RawAudio(source), 2, 2, 0));
    ExpectNoLeftovers();
}

TEST_F(ConversionTest, AFifoGivenAsTheSourceIsRefusedAtOnce)
{
    const std::string fifo = clips / "x.avi";
    ASSERT_TRUE(test::MakeFifo(fifo));
    EXPECT_EQ(Split("--delete x.avi"), 1);
    EXPECT_NE(output.find(fifo + ": the source file is not a regular file"), std::string::npos) << output;
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_FALSE(fs::exists(fifo + "_processed"));
}

TEST_F(ConversionTest, AFullDiskKeepsTheSourceAndLeavesNothingHalfDone)
{
    TempDir small;
    if (std::system(("mount -t tmpfs -o size=600k tmpfs " + Q(small.path().string()) + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "not root: no small file system to fill";
    const std::string source = small / "a.avi";
    MakeAvi(source, kStereo + ":s=44100", "pcm_s16le"); // about 450 kB, with room for its soundtrack only
    const std::string original = ReadFile(source);
    EXPECT_EQ(Split("--delete " + Q(source)), 1);
    EXPECT_NE(output.find("No space left on device"), std::string::npos) << output;
    EXPECT_TRUE(ReadFile(source) == original);
    EXPECT_FALSE(fs::exists(source + "_processed"));
    EXPECT_FALSE(fs::exists(source + ".wav"));
    ExpectNoLeftovers(small.path());
    std::system(("umount " + Q(small.path().string())).c_str());
}

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
        ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -f lavfi -i " + Q("aevalsrc=" + expr + ":s=8000") +
                               " -t 1 -c:a " + row.codec + " " + Q(in))
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
            EXPECT_TRUE(RawAudio(out) == Channel(raw, row.channels, row.bytesPerSample, channel - 1))
                << "channel " << channel << " differs";
        }
    }
}

TEST_F(ConversionTest, SoxFailsCleanlyOnBadInputAndFullDiskAndHandsOtherCommandsToSoX)
{
    const std::string in = clips / "in [1].wav"; // SoX itself would read "[1]" as a pattern
    ASSERT_EQ(std::system(
                  ("ffmpeg -nostdin -v error -f lavfi -i " + Q(kStereo + ":s=44100") + " -t 1 -c:a pcm_s16le " + Q(in))
                      .c_str()),
              0);
    const std::string truncated = clips / "truncated.wav";
    test::WriteFile(truncated, ReadFile(in).substr(0, 20000));
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
        std::system(("umount " + Q(full.path().string())).c_str());

    // Another command line is SoX's own: mixing two channels, or the version.
    Capture(Q(app / "sox") + " " + Q(in) + " " + Q(out) + " remix 1,2", &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Probe(out, "stream=channels"), "1\n");
    EXPECT_NE(Capture(Q(app / "sox") + " --version").find("SoX v"), std::string::npos);
}

} // namespace
} // namespace quorvil
