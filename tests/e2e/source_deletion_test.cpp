// When quorvil-split --delete takes a source away, on real files: only with its whole content in
// the outputs, on any disk, and never half done.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "conversion_fixture.h"
#include "entry_record.h"
#include "file_ops.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::ReadFile;
using test::TempDir;
namespace fs = std::filesystem;

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

} // namespace
} // namespace quorvil
