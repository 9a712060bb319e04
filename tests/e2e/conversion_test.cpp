// quorvil-split with our vdub and sox on real files, made here by the ffmpeg tool,
// checked the way a user's other tools read them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>

#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "command_line.h"
#include "entry_record.h"
#include "file_ops.h"
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
            EXPECT_FALSE(name.starts_with(".vdub-") || name.starts_with(".sox-") || name.starts_with(".quorvil-"))
                << name;
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

// A run killed just after a tool named an output, before it recorded the file itself, leaves nothing
// that no record names: the tools record each output before it takes its name.
TEST_F(ConversionTest, OurToolsRecordEachOutputBeforeItTakesItsName)
{
    const TempDir records;
    const test::ScopedEnv recordHere("QUORVIL_OUTPUT_RECORD", records / "entry-dead-tool");
    const std::string source = clips / "in.avi";
    MakeAvi(source, kStereo + ":s=22050", "pcm_s16le");
    const std::string script = clips / "script.vdf";
    test::WriteFile(script, "VirtualDub.Open(\"" + source + "\");\nVirtualDub.SaveWAV(\"" + source +
                                ".wav\");\nVirtualDub.audio.SetSource(0);\nVirtualDub.SaveCompatibleAVI(\"" + source +
                                ".video.avi\");\nVirtualDub.Close();\n");
    int code = -1;
    Capture(Q(app / "vdub") + " /s " + Q(script) + " /min 2>&1", &code);
    EXPECT_EQ(code, 0);
    Capture(Q(app / "sox") + " " + Q(source + ".wav") + " " + Q(source + ".A1.wav") + " remix 1 2>&1", &code);
    EXPECT_EQ(code, 0);
    for (const char* output : {".wav", ".video.avi", ".A1.wav"})
        EXPECT_TRUE(fs::exists(source + output)) << output;
    // Their run is gone (no lock of its own beside the records): what they recorded is taken back.
    EXPECT_EQ(TakeBackWhatDeadRunsLeft(records.dir(), {"self"}), "");
    for (const char* output : {".wav", ".video.avi", ".A1.wav"})
        EXPECT_FALSE(fs::exists(source + output)) << output;
    EXPECT_TRUE(fs::exists(source));
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

// The file as a recorder cut off before its index leaves it: no idx1, the RIFF size of what is left.
void CutIndex(std::string& bytes)
{
    bytes.resize(bytes.rfind("idx1"));
    bytes.replace(4, 4, test::LittleEndian(bytes.size() - 8, 4));
}

// Where the n-th chunk `id` of the movi list begins (the header's index lists name the same ids).
std::size_t MoviChunk(const std::string& bytes, const std::string& id, int n)
{
    std::size_t at = bytes.find("movi");
    for (int i = 0; i <= n; ++i)
        at = bytes.find(id, at + 4);
    return at;
}

// The audio stream header's dwLength, in sample frames for PCM.
std::size_t AudioLengthField(const std::string& bytes)
{
    return bytes.find("auds") + 32; // the stream type is the header's first field
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
        bool samplesAsTheSystemsFfmpeg = true; // our MP3 decoder rounds a few samples otherwise
    } rows[] = {
        {"no index", "", "pcm_s16le", CutIndex, true, true, ""},
        {"no index, one video chunk header damaged", "", "pcm_s16le",
         [](std::string& b) {
             CutIndex(b);
             b.replace(MoviChunk(b, "00dc", 20), 4, "0#dc");
         },
         false, false, "name 50 video frames, but its data holds 49"},
        {"no index, one audio chunk header damaged", "", "pcm_s16le",
         [](std::string& b) {
             CutIndex(b);
             b.replace(MoviChunk(b, "01wb", 20), 4, "0#wb");
         },
         false, false, "name 88200 audio samples, but its data holds 87176"},
        // The muxer wrote an empty video chunk, which the header counts and the reader passes over.
        {"no index, an empty video chunk", "", "libmp3lame", CutIndex, true, true, "", false},
        {"damaged index", "", "pcm_s16le",
         [](std::string& b) {
             const std::size_t entry = b.rfind("idx1") + 8 + 16 * 4; // a few entries in: change a chunk's size
             b.replace(entry + 12, 4, test::LittleEndian(Le32(b, entry + 12) / 2, 4));
         },
         false, false, "does not agree with its data"},
        // FFmpeg reads a file it takes for not interleaved in its index's order: two video entries
        // swapped make that order differ from the one the chunks lie in.
        {"the index lists two video chunks the other way round", "", "pcm_s16le",
         [](std::string& b) {
             std::vector<std::size_t> video;
             for (std::size_t entry = b.rfind("idx1") + 8; entry + 16 <= b.size(); entry += 16)
                 if (b.compare(entry, 4, "00dc") == 0)
                     video.push_back(entry);
             std::swap_ranges(b.begin() + video[10], b.begin() + video[10] + 16, b.begin() + video[11]);
         },
         true, false, "lists its video chunks in another order than they lie in the file"},
        {"odd PCM chunk", "", "pcm_s16le",
         [](std::string& b) {
             // 4096 bytes become 4095 and a pad byte: the chunks after it stay where they were, and
             // the header counts the one sample frame fewer.
             const std::size_t chunk = MoviChunk(b, "01wb", 0);
             ASSERT_EQ(Le32(b, chunk + 4), 4096u);
             b.replace(chunk + 4, 4, test::LittleEndian(4095, 4));
             b.replace(AudioLengthField(b), 4, test::LittleEndian(Le32(b, AudioLengthField(b)) - 1, 4));
             CutIndex(b);
         },
         true, true, ""},
        {"odd PCM chunk, a sample frame short of the header", "", "pcm_s16le",
         [](std::string& b) {
             const std::size_t chunk = MoviChunk(b, "01wb", 0);
             b.replace(chunk + 4, 4, test::LittleEndian(4095, 4));
             CutIndex(b);
         },
         false, false, "name 88200 audio samples, but its data holds 88199"},
        {"undecodable audio", "", "libmp3lame",
         [](std::string& b) { b.replace(b.find("strf", b.find("auds")) + 8, 2, test::LittleEndian(0x2000, 2)); }, false,
         false, "cannot decode the audio"},
        // FFmpeg stops reading the headers at a chunk too large for them, and logs it: the reason is
        // vdub's own line alone.
        {"a header chunk too large", "", "pcm_s16le",
         [](std::string& b) { b.replace(b.find("JUNK") + 4, 4, test::LittleEndian(2000000, 4)); }, false, false,
         "vdub ended with exit code 1 (vdub: \""},
        {"5.1",
         "aevalsrc=0.5*sin(440*2*PI*t)|0.5*sin(1000*2*PI*t)|0.1|0.1|0.1|0.1:c=5.1:s=44100",
         "pcm_s16le",
         {},
         true,
         false,
         "it has 6 audio channels; only the first two are in the outputs"},
        {"lossy audio louder than full scale",
         "aevalsrc=1.4*sin(440*2*PI*t)|0.3*sin(1000*2*PI*t):s=48000",
         "ac3",
         {},
         true,
         false,
         "are beyond full scale and were cut to it in the 16-bit soundtrack",
         false},
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
        const std::string sourceHashes = PacketHashes(source, "v");
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
            EXPECT_GE(std::count(hashes.begin(), hashes.end(), '\n'), 50);
            EXPECT_EQ(hashes, sourceHashes);
            if (row.samplesAsTheSystemsFfmpeg) {
                EXPECT_TRUE(RawAudio(source + ".A2.wav") == Channel(decoded, *row.audio ? 6 : 2, 2, 1));
            } else {
                EXPECT_NEAR(Frequency(source + ".A2.wav"), 1000, 25);
            }
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

TEST_F(ConversionTest, AVideoToolKilledMidWriteFailsItsEntryLeavesNothingAndARerunConverts)
{
    const std::string a = clips / "a.avi";
    MakeAvi(a, kStereo, "pcm_s16le");
    const std::string before = ReadFile(a);
    for (const bool subdir : {true, false}) {
        SCOPED_TRACE(subdir ? "into a subdirectory" : "beside the source");
        const std::string options = subdir ? "--delete a.avi" : "--no-subdir --delete a.avi";
        {
            // In vdub's place, a program that runs it and kills it with SIGKILL once it has written
            // 64 KiB of its outputs (of about 400 KiB), as the out-of-memory killer would.
            fs::rename(app / "vdub", app / "vdub.real");
            fs::copy_file(test::TestHelper("kill_mid_write"), app / "vdub");
            const test::ScopedEnv tool("KILL_TOOL", app / "vdub.real");
            const test::ScopedEnv after("KILL_AFTER_BYTES", "65536");
            const int code = Split(options);
            fs::remove(app / "vdub");
            fs::rename(app / "vdub.real", app / "vdub");
            if (output.find("vdub ended with exit code 77") != std::string::npos)
                GTEST_SKIP() << "a tool's writes cannot be traced here";
            EXPECT_EQ(code, 1) << output;
        }
        EXPECT_NE(output.find(a + ": vdub was ended by signal 9"), std::string::npos) << output;
        EXPECT_EQ(ReadFile(a), before);
        EXPECT_FALSE(fs::exists(a + "_processed"));
        EXPECT_FALSE(fs::exists(a + ".wav"));
        EXPECT_FALSE(fs::exists(a + ".noaudio.avi"));
        ExpectNoLeftovers();
        std::size_t files = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(clips.path()))
            ++files;
        EXPECT_EQ(files, 1u) << "the folder holds more than the source";

        EXPECT_EQ(Split(options), 0) << output;
        EXPECT_FALSE(fs::exists(a));
        fs::copy_file(subdir ? a + "_processed/a.avi.A1.wav" : a + ".A1.wav", clips / "kept.wav");
        for (const auto& entry : fs::directory_iterator(clips.path())) {
            if (entry.path().filename() != "kept.wav")
                fs::remove_all(entry.path());
        }
        fs::remove(clips / "kept.wav");
        test::WriteFile(a, before);
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

TEST_F(ConversionTest, WhatANeighbourPutsAtAnOutputsNameWhileAToolRunsIsLeftAsItIs)
{
    // In the tool's place, a script that first does what the neighbour does, then runs the tool.
    const struct {
        const char* name;
        const char* options;
        const char* tool;
        const char* neighbour; // shell commands, in the sources' folder
        const char* theirs;    // the neighbour's file, which must hold "theirs" afterwards
    } rows[] = {
        {"the soundtrack's name", "", "vdub", "printf theirs > a.avi.wav", "a.avi.wav"},
        {"the video's name", "--no-subdir", "vdub", "printf theirs > a.avi.noaudio.avi", "a.avi.noaudio.avi"},
        {"the left channel's name", "--no-subdir", "sox", "[ -e a.avi.A1.wav ] || printf theirs > a.avi.A1.wav",
         "a.avi.A1.wav"},
        {"a folder of theirs in place of the output folder", "", "vdub",
         "mv a.avi_processed made && mkdir a.avi_processed && printf theirs > a.avi_processed/a.avi",
         "a.avi_processed/a.avi"},
    };
    const std::string a = clips / "a.avi";
    MakeAvi(a, kStereo, "pcm_s16le");
    const std::string source = ReadFile(a);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::rename(app / row.tool, app / (std::string(row.tool) + ".real"));
        test::WriteFile(app / row.tool, std::string("#!/bin/sh\n") + row.neighbour + "\nexec \"$0.real\" \"$@\"\n");
        fs::permissions(app / row.tool, fs::perms::owner_all);
        EXPECT_EQ(Split(std::string(row.options) + " --delete a.avi"), 1) << output;
        fs::rename(app / (std::string(row.tool) + ".real"), app / row.tool);
        EXPECT_EQ(ReadFile(clips / row.theirs), "theirs");
        EXPECT_EQ(ReadFile(a), source);
        for (const auto& entry : fs::directory_iterator(clips.path())) {
            if (entry.path() != a)
                fs::remove_all(entry.path());
        }
    }
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
        EXPECT_EQ(Split("--no-subdir --delete a.avi"), 3) << output; // converted, its source kept
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
                    both.find(": the file is missing") != std::string::npos)
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
    // Another user's file, writable by all, in a folder everyone may write to, the sticky bit set: an ordinary user
    // may read it and write beside it, but not delete it.
    if (::geteuid() != 0)
        GTEST_SKIP() << "not root: no second user to be";
    const std::string source = clips / "a.avi";
    MakeAvi(source, kStereo + ":s=44100", "pcm_s16le");
    fs::permissions(source, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                fs::perms::group_write | fs::perms::others_read | fs::perms::others_write);
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

// A small disk, and the file system of camera cards and USB sticks, which FUSE serves here (exFAT can
// neither rename without replacing nor link): the source goes only with its outputs whole, and nothing
// of ours is left either way. (FUSE's FAT, fusefat, puts a small write at the place of the one before
// it, so what it holds differs from what was written: our checks keep the source there.)
TEST_F(ConversionTest, OnAFullDiskAndOnCameraCardsNothingIsLeftHalfDone)
{
    const struct {
        const char* name;
        std::string mount; // IMG: an image file of its own; DIR: where it is mounted
        bool fits;
    } rows[] = {
        {"a full disk", "mount -t tmpfs -o size=600k tmpfs DIR", false},
        {"exFAT", "truncate -s 64M IMG && mkfs.exfat IMG && mount.exfat-fuse -o umask=022 $(losetup -f --show IMG) DIR",
         true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const TempDir image;
        const TempDir volume;
        std::string mount = row.mount;
        for (const auto& [mark, path] : {std::pair{"IMG", Q(image / "volume.img")}, {"DIR", Q(volume.path().string())}})
            for (std::size_t at; (at = mount.find(mark)) != std::string::npos;)
                mount.replace(at, 3, path);
        const std::string unmount = "umount " + Q(volume.path().string()) + " 2>/dev/null; losetup -j " +
                                    Q(image / "volume.img") + " -O NAME -n | xargs -r losetup -d";
        if (std::system(("(" + mount + ") >/dev/null 2>&1").c_str()) != 0) {
            std::printf("skipped %s: it cannot be mounted here (not root, or without its tools)\n", row.name);
            (void)!std::system(unmount.c_str()); // a loop device set up before the mount failed
            continue;
        }
        const std::string source = volume / "a.avi";
        MakeAvi(source, kStereo + ":s=44100", "pcm_s16le"); // about 450 kB: the full disk holds its soundtrack only
        const std::string original = ReadFile(source);
        if (row.fits) {
            // Converted again beside the source, its outputs are replaced; under another letter case
            // it is the same file, held by the first run's lock.
            EXPECT_EQ(Split("--no-subdir " + Q(source)), 0) << output;
            EXPECT_EQ(Split("--no-subdir " + Q(source)), 0) << output;
            const TempDir locks;
            const SourceFile held(source, locks.dir());
            EXPECT_EQ(SourceFile(volume / "A.AVI", locks.dir()).problem(),
                      "the source file is locked: another run of Quorvil is converting it");
            for (const char* output : {".noaudio.avi", ".A1.wav", ".A2.wav"})
                fs::remove(source + output);
        }
        if (row.fits) {
            // A state folder on the card, which has neither the no-replace rename nor links: a dead
            // run's record there is taken back all the same.
            const std::string leftover = volume / "a.avi.wav";
            test::WriteFile(leftover, "a dead run's soundtrack");
            const std::string records = volume / "state/quorvil/";
            fs::create_directories(records);
            std::string name;
            {
                EntryRecord record(records, {"dead"});
                record.Scratch(leftover, StampAt(leftover));
                record.Save();
                name = record.Path();
                fs::rename(name, name + ".kept"); // out of the way of its own removal
            }
            fs::rename(name + ".kept", name);
            const test::ScopedEnv state("XDG_STATE_HOME", volume / "state");
            EXPECT_EQ(Split("--no-subdir " + Q(source)), 0) << output;
            EXPECT_FALSE(fs::exists(name));
            for (const char* output : {".noaudio.avi", ".A1.wav", ".A2.wav"})
                fs::remove(source + output);
            fs::remove_all(volume / "state");
        }
        EXPECT_EQ(Split("--delete " + Q(source)), row.fits ? 0 : 1) << output;
        if (row.fits) {
            EXPECT_FALSE(fs::exists(source));
            EXPECT_TRUE(fs::exists(source + "_processed/a.avi.A2.wav"));
        } else {
            EXPECT_NE(output.find("No space left on device"), std::string::npos) << output;
            EXPECT_TRUE(ReadFile(source) == original);
            EXPECT_FALSE(fs::exists(source + "_processed"));
        }
        EXPECT_FALSE(fs::exists(source + ".wav"));
        ExpectNoLeftovers(volume.path());
        (void)!std::system(unmount.c_str());
    }
}

// The format tag of a WAV file's header and, for an extensible one, that of its sub-format.
std::pair<int, int> FormatTags(const std::string& path)
{
    const std::string bytes = ReadFile(path);
    const std::size_t fmt = bytes.find("fmt ");
    if (fmt == std::string::npos || bytes.size() < fmt + 34)
        return {0, 0};
    const int tag = static_cast<int>(Le32(bytes, fmt + 8) & 0xFFFF);
    return {tag, tag == 0xFFFE ? static_cast<int>(Le32(bytes, fmt + 32) & 0xFFFF) : tag};
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

// In the calling process (a child about to become a tool): hides /proc in a mount namespace of its
// own, so that a file made with O_TMPFILE cannot be named and the tools fall back on temporary
// names, as on a file system without O_TMPFILE. Whether it could (as root).
bool WithoutProc()
{
    return ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::umount2("/proc", MNT_DETACH) == 0;
}

// Starts argv with the process id it will have known beforehand: `prepare` runs in the new process
// before it becomes the program. Waits for its end; its exit code.
int RunAs(const std::vector<std::string>& argv, const std::function<void(pid_t)>& prepare)
{
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        prepare(::getpid());
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ConversionTest, LinksPlantedAtTheToolsTemporaryNamesRedirectNoWrite)
{
    // Where a tool still uses a temporary name (here because its target exists and is replaced), a
    // neighbour knows the next process id and plants links there to a file of the user's.
    const std::string source = clips / "a.avi";
    MakeAvi(source, kStereo + ":s=22050", "pcm_s16le");
    const std::string victim = clips / "victim.txt";
    test::WriteFile(victim, "the user's own file\n");
    const std::string out = clips / "out";
    test::WriteFile(out + ".wav", "an older soundtrack");
    test::WriteFile(out + ".avi", "an older video");
    test::WriteFile(out + ".vdf", "VirtualDub.Open(\"" + source + "\");\nVirtualDub.SaveWAV(\"" + out +
                                      ".wav\");\nVirtualDub.SaveCompatibleAVI(\"" + out + ".avi\");\n");
    test::WriteFile(out + ".A2.wav", "an older channel");
    const struct {
        const char* name;
        std::vector<std::string> argv;
        std::string prefix;
        std::string suffix;
        std::vector<std::string> outputs;
    } rows[] = {
        {"vdub", {app / "vdub", "/s", out + ".vdf"}, ".vdub-", "", {out + ".wav", out + ".avi"}},
        {"sox", {app / "sox", out + ".wav", out + ".A2.wav", "remix", "2"}, ".sox-", ".tmp", {out + ".A2.wav"}},
    };
    for (const bool named : {false, true})
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(row.name) + (named ? ", temporary names throughout" : ""));
            const int code = RunAs(row.argv, [&](pid_t pid) {
                if (named && !WithoutProc())
                    ::_exit(125);
                for (int n = 0; n < 3; ++n) {
                    const std::string link =
                        clips / (row.prefix + std::to_string(pid) + "-" + std::to_string(n) + row.suffix);
                    if (::symlink(victim.c_str(), link.c_str()) != 0)
                        ::_exit(126);
                }
            });
            if (code == 125) {
                std::fprintf(stderr, "not root: no mount namespace without /proc; those rows are skipped\n");
                continue;
            }
            EXPECT_EQ(code, 0);
            EXPECT_EQ(ReadFile(victim), "the user's own file\n");
            for (const auto& entry : fs::directory_iterator(clips.path())) {
                if (entry.path().filename().string().starts_with(row.prefix)) {
                    EXPECT_TRUE(fs::is_symlink(entry.symlink_status())) << entry.path();
                    fs::remove(entry.path());
                }
            }
            for (const auto& output : row.outputs)
                EXPECT_FALSE(fs::is_symlink(output) || ReadFile(output).starts_with("an older")) << output;
        }
    EXPECT_EQ(Probe(out + ".A2.wav", "stream=channels"), "1\n");
    EXPECT_TRUE(RawAudio(out + ".A2.wav") == Channel(RawAudio(source), 2, 2, 1));
    for (const auto& entry : fs::directory_iterator(clips.path()))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << "left behind: " << entry.path();
}

// The state letter of a process (R, S, T, Z, ...), or 0 once it is gone.
char ProcessState(pid_t pid)
{
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t end = stat.rfind(')');
    return end == std::string::npos || end + 2 >= stat.size() ? 0 : stat[end + 2];
}

TEST_F(ConversionTest, AToolEndedMidWriteOrOrphanedLeavesNothing)
{
    // The orphaned tools become ours to wait for.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    const std::string source = clips / "a.avi";
    MakeAvi(source, kStereo + ":s=44100", "pcm_s16le");
    const std::string soundtrack = clips / "sound.wav";
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -i " + Q(source) + " -vn -c:a copy " + Q(soundtrack)).c_str()), 0);
    const std::string script = clips / "job.vdf";
    test::WriteFile(script, "VirtualDub.Open(\"" + source + "\");\nVirtualDub.SaveWAV(\"" + clips / "out.wav" +
                                "\");\nVirtualDub.SaveCompatibleAVI(\"" + clips / "out.avi" + "\");\n");
    const std::vector<std::string> vdub = {app / "vdub", "/s", script};
    const std::vector<std::string> sox = {app / "sox", soundtrack, clips / "out.A1.wav", "remix", "1"};
    const struct {
        const char* name;
        std::vector<std::string> argv;
        bool parentKilled; // else the tool itself, as by the out-of-memory killer
        bool named;        // temporary names throughout, as where the system has no O_TMPFILE
    } rows[] = {
        {"vdub killed", vdub, false, false},
        {"vdub's parent killed", vdub, true, false},
        {"sox killed", sox, false, false},
        {"sox's parent killed", sox, true, false},
        {"vdub killed, temporary names", vdub, false, true},
        {"vdub's parent killed, temporary names", vdub, true, true},
        {"sox killed, temporary names", sox, false, true},
        {"sox's parent killed, temporary names", sox, true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        int report[2];
        ASSERT_EQ(::pipe(report), 0);
        // A stand-in for Quorvil: it starts the tool, says its id, and waits to be killed.
        const pid_t parent = ::fork();
        if (parent == 0) {
            const pid_t tool = ::fork();
            if (tool == 0) {
                if (row.named && !WithoutProc())
                    ::_exit(125);
                ::setenv("LD_PRELOAD", STOP_AT_WRITE, 1);
                std::vector<char*> args;
                for (const auto& arg : row.argv)
                    args.push_back(const_cast<char*>(arg.c_str()));
                args.push_back(nullptr);
                ::execv(args[0], args.data());
                ::_exit(127);
            }
            (void)!::write(report[1], &tool, sizeof tool);
            for (;;)
                ::pause();
        }
        ::close(report[1]);
        pid_t tool = -1;
        ASSERT_EQ(::read(report[0], &tool, sizeof tool), static_cast<ssize_t>(sizeof tool));
        ::close(report[0]);
        // Stopped at its first write to an output, or ended at once where no namespace could be made.
        ASSERT_TRUE(test::WaitUntil([tool] { return ProcessState(tool) == 'T' || ProcessState(tool) == 'Z'; },
                                    std::chrono::seconds(60)));
        if (ProcessState(tool) == 'Z') {
            ::kill(parent, SIGKILL);
            ::waitpid(parent, nullptr, 0);
            int status = 0;
            ::waitpid(tool, &status, 0);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 125) << status;
            std::fprintf(stderr, "not root: no mount namespace without /proc; %s is skipped\n", row.name);
            continue;
        }
        if (!row.parentKilled)
            ::kill(tool, SIGKILL);
        ::kill(parent, SIGKILL);
        ::waitpid(parent, nullptr, 0);
        if (row.parentKilled)
            ::kill(tool, SIGCONT);
        int status = 0;
        ASSERT_EQ(::waitpid(tool, &status, 0), tool);
        if (row.parentKilled) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << status;
        } else {
            EXPECT_TRUE(WIFSIGNALED(status)) << status;
        }
        // A tool killed outright can leave its temporary files only (vdub has two open at once),
        // named by its process id for Quorvil to remove; anything else is left by no one.
        const std::string leftover = (row.argv[0].ends_with("vdub") ? ".vdub-" : ".sox-") + std::to_string(tool) + "-";
        int leftovers = 0;
        for (const auto& entry : fs::directory_iterator(clips.path())) {
            const std::string name = entry.path().filename().string();
            if (row.named && !row.parentKilled && name.starts_with(leftover)) {
                ++leftovers;
                fs::remove(entry.path());
            } else if (name != "a.avi" && name != "sound.wav" && name != "job.vdf") {
                ADD_FAILURE() << "left behind: " << name;
                fs::remove(entry.path()); // not to be taken for the next row's
            }
        }
        if (row.named && !row.parentKilled) {
            EXPECT_GT(leftovers, 0) << "no " << leftover << "N: the tool was not stopped while writing";
        }
    }
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
