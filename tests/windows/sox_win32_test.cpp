// Our sox.exe as the Windows launcher and a user meet it, under Wine here: the same channel copy as
// on Linux, names in the system code page, one line and exit code 2 on any failure, and its reason
// in the failure text.
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>

#include <windows.h>

#include <gtest/gtest.h>

#include "command_line.h"
#include "handles_win32.h"
#include "launcher.h"
#include "sox_cases.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::ReadFile;
using test::TempDir;
namespace fs = std::filesystem;

// How a run of sox.exe ended: its exit code and what it wrote to its error output.
struct SoxRun {
    DWORD code = 0;
    std::string said;
};

enum class ErrorOutput { file, pipe };

class SoxTest : public ::testing::Test {
protected:
    SoxTest() { fs::copy_file(SOX_EXE, sox); }

    // Starts sox.exe with `parameters`, its error output a file or a pipe, and waits for its end.
    // `beforeStart` runs with its process id before its first instruction.
    SoxRun Run(const std::string& parameters, ErrorOutput kind = ErrorOutput::file,
               const std::function<void(DWORD)>& beforeStart = {})
    {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE write = nullptr;
        HANDLE read = nullptr;
        const std::string errors = dir / "stderr.txt";
        if (kind == ErrorOutput::file)
            write = CreateFileA(errors.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
        else
            CreatePipe(&read, &write, &inherit, 0);
        UniqueHandle writeEnd(write);
        const UniqueHandle readEnd(read);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdError = write;
        PROCESS_INFORMATION process{};
        std::string commandLine = QuoteArgument(sox) + " " + parameters;
        SoxRun run;
        const auto start = [&] {
            return CreateProcessA(sox.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                  beforeStart ? CREATE_SUSPENDED : 0, nullptr, nullptr, &startup, &process);
        };
        // Under load, Wine once refused the first start of this GUI program, just after the test
        // program before this one had ended: one more try, told, as that is not what is tested here.
        if (!start()) {
            std::printf("sox.exe did not start (error %lu); trying once more\n", GetLastError());
            Sleep(500);
            if (!start()) {
                ADD_FAILURE() << "sox.exe did not start: error " << GetLastError();
                return run;
            }
        }
        const UniqueHandle owned(process.hProcess);
        if (beforeStart) {
            beforeStart(process.dwProcessId);
            ResumeThread(process.hThread);
        }
        CloseHandle(process.hThread);
        writeEnd.reset(); // the pipe ends when sox.exe closes its end
        if (kind == ErrorOutput::pipe) {
            char buffer[4096];
            DWORD got = 0;
            while (::ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got > 0)
                run.said.append(buffer, got);
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &run.code);
        if (kind == ErrorOutput::file)
            run.said = ReadFile(errors);
        return run;
    }

    // Nothing of a failed run is left in `folder`: no output, no temporary file.
    static void ExpectOnly(const fs::path& folder, const std::vector<std::string>& names)
    {
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << "left behind: " << name;
        }
    }

    TempDir dir;
    const std::string sox = dir / "sox.exe";
};

// Bytes of every value, 0x0A and 0x1A among them, which a file read in text mode would change.
std::string RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random() & 0xFF);
    return bytes;
}

// The format and samples of a mono WAV file as its header states them.
struct MonoWav {
    int tag = 0; // 1 PCM, 3 float, whether written plainly or as WAVE_FORMAT_EXTENSIBLE
    bool extensible = false;
    int channels = 0;
    std::uint32_t rate = 0;
    int bits = 0;
    std::string samples;
};

MonoWav ReadWav(const std::string& bytes)
{
    const auto number = [&bytes](std::size_t at, int size) {
        std::uint32_t value = 0;
        for (int i = size - 1; i >= 0; --i)
            value = value << 8 | static_cast<unsigned char>(bytes.at(at + static_cast<std::size_t>(i)));
        return value;
    };
    MonoWav wav;
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)
        return wav;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::uint32_t size = number(at + 4, 4);
        const std::string id = bytes.substr(at, 4);
        if (id == "fmt ") {
            wav.tag = static_cast<int>(number(at + 8, 2));
            wav.extensible = wav.tag == 0xFFFE;
            if (wav.extensible)
                wav.tag = static_cast<int>(number(at + 32, 2));
            wav.channels = static_cast<int>(number(at + 10, 2));
            wav.rate = number(at + 12, 4);
            wav.bits = static_cast<int>(number(at + 22, 2));
        } else if (id == "data") {
            wav.samples = bytes.substr(at + 8, size);
        }
        at += 8 + size + size % 2;
    }
    return wav;
}

TEST_F(SoxTest, CopiesEveryChannelOfEveryPcmFormatSampleForSample)
{
    // More than one 4 MiB read for the larger formats.
    constexpr std::size_t kFrames = 200000;
    const std::string in = dir / "in.wav";
    for (const auto& format : test::kSoxFormats) {
        SCOPED_TRACE(format.codec);
        const std::size_t frame = static_cast<std::size_t>(format.channels * format.bytesPerSample);
        const std::string samples = RandomBytes(kFrames * frame, static_cast<unsigned>(frame));
        test::WriteFile(in, test::PcmWavBytes(format.channels, format.bytesPerSample, format.isFloat, 8000, samples));
        for (int channel = 1; channel <= format.channels; ++channel) {
            const std::string out = dir / ("c" + std::to_string(channel) + ".wav");
            const SoxRun run = Run(QuoteArgument(in) + " " + QuoteArgument(out) + " remix " +
                                   (channel == 1 ? "-1" : std::to_string(channel)));
            ASSERT_EQ(run.code, 0u) << "channel " << channel << ": " << run.said;
            EXPECT_EQ(run.said, "");
            const MonoWav wav = ReadWav(ReadFile(out));
            EXPECT_EQ(wav.tag, format.isFloat ? 3 : 1);
            EXPECT_EQ(wav.extensible, format.bytesPerSample > 2); // as FFmpeg writes more than 16 bits
            EXPECT_EQ(wav.channels, 1);
            EXPECT_EQ(wav.rate, 8000u);
            EXPECT_EQ(wav.bits, format.bytesPerSample * 8);
            std::string expected;
            for (std::size_t at = static_cast<std::size_t>((channel - 1) * format.bytesPerSample); at < samples.size();
                 at += frame)
                expected.append(samples, at, static_cast<std::size_t>(format.bytesPerSample));
            EXPECT_TRUE(wav.samples == expected) << "channel " << channel << " differs";
        }
    }
}

TEST_F(SoxTest, FailsWithOneLineAndLeavesNothingBehind)
{
    const std::string stereo =
        test::PcmWavBytes(2, 2, false, 44100, RandomBytes(44100 * 4, 7)); // one second, more than the small disk holds
    const std::string good = dir / "good.wav";
    test::WriteFile(good, stereo);
    test::WriteFile(dir / "truncated.wav", stereo.substr(0, 20000));
    test::WriteFile(dir / "short.wav", stereo.substr(0, stereo.size() - 4)); // the samples end the file
    test::WriteFile(dir / "text.wav", "not a sound file\n");
    const std::vector<std::string> inputs = {"sox.exe",       "stderr.txt", "good.wav",
                                             "truncated.wav", "short.wav",  "text.wav"};
    // A disk of 64 KiB that the test run mounts for us where it may (tests/windows/small-disk).
    const char* smallDisk = std::getenv("SOX_SMALL_DISK");
    const bool full = smallDisk && fs::exists(fs::path(smallDisk) / "mounted");

    for (const auto& failure : test::kSoxFailures) {
        std::string input = good;
        std::string folder = dir.path().string();
        if (failure.fault == test::SoxFault::truncated)
            input = dir / "truncated.wav";
        else if (failure.fault == test::SoxFault::oneFrameShort)
            input = dir / "short.wav";
        else if (failure.fault == test::SoxFault::notSound)
            input = dir / "text.wav";
        else if (failure.fault == test::SoxFault::unwritableFolder)
            folder = dir / "no such folder";
        else if (failure.fault == test::SoxFault::fullDisk && full)
            folder = smallDisk;
        else if (failure.fault == test::SoxFault::fullDisk) {
            std::fprintf(stderr, "no small disk mounted: the full-disk case is skipped\n");
            continue;
        }
        const std::string out = folder + "\\out.wav";
        SCOPED_TRACE(input + " -> " + out);
        const SoxRun run = Run(QuoteArgument(input) + " " + QuoteArgument(out) + " remix " + failure.channel);
        EXPECT_EQ(run.code, 2u);
        EXPECT_TRUE(run.said.starts_with("sox: ")) << run.said;
        EXPECT_NE(run.said.find(failure.message), std::string::npos) << run.said;
        EXPECT_EQ(std::count(run.said.begin(), run.said.end(), '\n'), 1) << run.said;
        EXPECT_FALSE(fs::exists(out));
        ExpectOnly(dir.path(), inputs);
        if (full)
            ExpectOnly(smallDisk, {"mounted"});
    }
}

TEST_F(SoxTest, FilesAtItsComingTemporaryNamesAreLeftAlone)
{
    const std::string in = dir / "in.wav";
    const std::string samples = RandomBytes(8000 * 4, 11);
    test::WriteFile(in, test::PcmWavBytes(2, 2, false, 8000, samples));
    const std::string out = dir / "out.wav";
    std::vector<std::string> planted;
    const SoxRun run =
        Run(QuoteArgument(in) + " " + QuoteArgument(out) + " remix 2", ErrorOutput::file, [&](DWORD pid) {
            for (int n = 0; n < 2; ++n) {
                planted.push_back(".sox-" + std::to_string(pid) + "-" + std::to_string(n) + ".tmp");
                test::WriteFile(dir / planted.back(), "a neighbour's file");
            }
        });
    ASSERT_EQ(run.code, 0u) << run.said;
    for (const auto& name : planted)
        EXPECT_EQ(ReadFile(dir / name), "a neighbour's file");
    std::string right;
    for (std::size_t at = 2; at < samples.size(); at += 4)
        right.append(samples, at, 2);
    EXPECT_TRUE(ReadWav(ReadFile(out)).samples == right);
    std::vector<std::string> expected = {"sox.exe", "stderr.txt", "in.wav", "out.wav"};
    expected.insert(expected.end(), planted.begin(), planted.end());
    ExpectOnly(dir.path(), expected);
}

TEST_F(SoxTest, RefusesAnyOtherCommandLineWithOneLine)
{
    const std::string in = dir / "in.wav";
    test::WriteFile(in, test::PcmWavBytes(2, 2, false, 8000, RandomBytes(8000 * 4, 3)));
    const std::string out = QuoteArgument(dir / "out.wav");
    for (const std::string& parameters :
         {QuoteArgument(in) + " " + out + " remix 1,2", std::string("--version"), std::string(),
          QuoteArgument(in) + " " + out + " remix 0", QuoteArgument(in) + " " + out + " channels 1",
          QuoteArgument(in) + " " + QuoteArgument(dir / "out.mp3") + " remix 1"}) {
        SCOPED_TRACE(parameters);
        const SoxRun run = Run(parameters);
        EXPECT_EQ(run.code, 2u);
        EXPECT_EQ(run.said, "sox: this sox copies one channel of a WAV file; for anything else install SoX\n");
        ExpectOnly(dir.path(), {"sox.exe", "stderr.txt", "in.wav"});
    }
}

TEST_F(SoxTest, ANameInTheSystemCodePageWorks)
{
    if (GetACP() != 1252)
        GTEST_SKIP() << "the system code page is " << GetACP() << ", not 1252";
    // "Grüße" in code page 1252, joined as bytes (std::filesystem would make UTF-8 of them); libsndfile's
    // own sf_open would take them for UTF-8.
    const std::string in = dir.dir() + "Gr\xFC\xDF"
                                       "e.wav";
    const std::string out = dir.dir() + "Gr\xFC\xDF"
                                        "e.A1.wav";
    const std::string samples = RandomBytes(8000 * 4, 5);
    test::WriteFile(in, test::PcmWavBytes(2, 2, false, 8000, samples));
    const SoxRun run = Run(QuoteArgument(in) + " " + QuoteArgument(out) + " remix -1");
    ASSERT_EQ(run.code, 0u) << run.said;
    // The name the system made of it is the one a Unicode program sees as "Grüße".
    EXPECT_NE(GetFileAttributesW((dir.path() / L"Gr\u00FC\u00DFe.A1.wav").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadWav(ReadFile(out)).samples.size(), samples.size() / 2);
}

TEST_F(SoxTest, WritesItsLineToAPipeAsToAFile)
{
    const SoxRun run =
        Run(QuoteArgument(dir / "missing.wav") + " " + QuoteArgument(dir / "out.wav") + " remix 1", ErrorOutput::pipe);
    EXPECT_EQ(run.code, 2u);
    EXPECT_TRUE(run.said.starts_with("sox: cannot read \"")) << run.said;
    EXPECT_EQ(std::count(run.said.begin(), run.said.end(), '\n'), 1) << run.said;
}

TEST_F(SoxTest, ItsReasonReachesTheFailureTextThroughTheLauncher)
{
    const std::string in = dir / "in.wav";
    test::WriteFile(in, test::PcmWavBytes(2, 2, false, 8000, RandomBytes(8000 * 4, 9)));
    // As the queue run starts it: through the shell, shown, its error output nowhere.
    const ToolCommand command{
        "Open", sox, QuoteArgument(in) + " " + QuoteArgument(dir / "out.wav") + " remix 3", "", ShowMode::normal, true};
    ToolEnd end;
    const std::int32_t code = LaunchTool(command, {}, &end);
    EXPECT_EQ(DescribeEnd("sox for the right channel", code, end),
              "sox for the right channel ended with exit code 2 (sox: \"" + in +
                  "\" has 2 channels, so there is no channel 3)");
}

} // namespace
} // namespace quorvil
