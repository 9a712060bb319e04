#include "conversion_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <sys/wait.h>

namespace quorvil {

using test::ReadFile;
namespace fs = std::filesystem;

std::string Q(const std::string& s)
{
    std::string quoted = "'";
    for (char c : s)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string Capture(const std::string& command, int* code)
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

std::string RawAudio(const std::string& path)
{
    return Capture("ffmpeg -nostdin -v error -i " + Q(path) + " -map 0:a:0 -c copy -f data -");
}

std::string Channel(const std::string& raw, int channels, int bytesPerSample, int channel)
{
    std::string out;
    const std::size_t frame = static_cast<std::size_t>(channels * bytesPerSample);
    for (std::size_t i = 0; i + frame <= raw.size(); i += frame)
        out.append(raw, i + static_cast<std::size_t>(channel * bytesPerSample),
                   static_cast<std::size_t>(bytesPerSample));
    return out;
}

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

std::pair<int, int> FormatTags(const std::string& path)
{
    const std::string bytes = ReadFile(path);
    const std::size_t fmt = bytes.find("fmt ");
    if (fmt == std::string::npos || bytes.size() < fmt + 34)
        return {0, 0};
    const int tag = static_cast<int>(Le32(bytes, fmt + 8) & 0xFFFF);
    return {tag, tag == 0xFFFE ? static_cast<int>(Le32(bytes, fmt + 32) & 0xFFFF) : tag};
}

ConversionTest::ConversionTest()
{
    for (const char* program : {QUORVIL_SPLIT, VDUB, SOX})
        fs::copy_file(program, app / fs::path(program).filename().string());
}

int ConversionTest::Split(const std::string& arguments)
{
    int code = -1;
    output = Capture("cd " + Q(clips.path().string()) + " && " + Q(app / "quorvil-split") + " " + arguments + " 2>&1",
                     &code);
    return code;
}

void ConversionTest::ExpectNoLeftovers(const fs::path& where)
{
    EXPECT_FALSE(fs::exists(app / "temp.vdf"));
    for (const auto& entry : fs::recursive_directory_iterator(where.empty() ? clips.path() : where)) {
        const std::string name = entry.path().filename().string();
        EXPECT_FALSE(name.starts_with(".vdub-") || name.starts_with(".sox-") || name.starts_with(".quorvil-")) << name;
        if (!entry.path().parent_path().string().ends_with("_processed") && name.ends_with(".wav")) {
            EXPECT_TRUE(name.ends_with(".A1.wav") || name.ends_with(".A2.wav")) << name;
        }
    }
}

} // namespace quorvil
