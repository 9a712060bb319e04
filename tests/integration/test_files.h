#pragma once

// Reading and writing whole files, for the tests and for the helper programs they start.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

namespace quorvil::test {

[[nodiscard]] inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Little-endian bytes of a number, for hand-made headers.
[[nodiscard]] inline std::string LittleEndian(std::uint64_t value, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i, value >>= 8)
        out += static_cast<char>(value & 0xFF);
    return out;
}

// A WAV file of silence: 16-bit PCM unless told otherwise (format 3 is floating point).
[[nodiscard]] inline std::string WavBytes(int channels, std::uint32_t frames, std::uint32_t rate = 8000, int bits = 16,
                                          int format = 1)
{
    const std::uint32_t block = static_cast<std::uint32_t>(channels * bits / 8);
    const std::uint32_t data = block * frames;
    return "RIFF" + LittleEndian(36 + data, 4) + "WAVEfmt " + LittleEndian(16, 4) +
           LittleEndian(static_cast<std::uint64_t>(format), 2) + LittleEndian(static_cast<std::uint64_t>(channels), 2) +
           LittleEndian(rate, 4) + LittleEndian(rate * block, 4) + LittleEndian(block, 2) +
           LittleEndian(static_cast<std::uint64_t>(bits), 2) + "data" + LittleEndian(data, 4) + std::string(data, '\0');
}

// A WAV file holding `samples` (interleaved frames) as they are, in the format the ffmpeg tool
// writes: WAVE_FORMAT_EXTENSIBLE for more than two channels or more than 16 bits.
[[nodiscard]] inline std::string PcmWavBytes(int channels, int bytesPerSample, bool isFloat, std::uint32_t rate,
                                             const std::string& samples)
{
    const std::uint64_t block = static_cast<std::uint64_t>(channels * bytesPerSample);
    const std::uint64_t bits = static_cast<std::uint64_t>(bytesPerSample * 8);
    const std::uint64_t tag = isFloat ? 3 : 1;
    const bool extensible = channels > 2 || bits > 16;
    std::string fmt = LittleEndian(extensible ? 0xFFFE : tag, 2) +
                      LittleEndian(static_cast<std::uint64_t>(channels), 2) + LittleEndian(rate, 4) +
                      LittleEndian(rate * block, 4) + LittleEndian(block, 2) + LittleEndian(bits, 2);
    if (extensible) // valid bits, channel mask (none), then the format's GUID
        fmt += LittleEndian(22, 2) + LittleEndian(bits, 2) + LittleEndian(0, 4) + LittleEndian(tag, 4) +
               std::string("\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 12);
    const std::string body = "WAVEfmt " + LittleEndian(fmt.size(), 4) + fmt + "data" + LittleEndian(samples.size(), 4) +
                             samples + (samples.size() % 2 ? std::string(1, '\0') : "");
    return "RIFF" + LittleEndian(body.size(), 4) + body;
}

// The start of an AVI file as far as its stream headers: one video stream, then audio streams of
// 16-bit PCM, each with its format header.
[[nodiscard]] inline std::string AviBytes(int audioStreams)
{
    const auto chunk = [](const std::string& id, const std::string& body) {
        return id + LittleEndian(body.size(), 4) + body + (body.size() % 2 ? std::string(1, '\0') : "");
    };
    const auto stream = [&](const char* type, const std::string& format) {
        return chunk("LIST", "strl" + chunk("strh", type + std::string(52, '\0')) + chunk("strf", format));
    };
    const std::string bitmap = LittleEndian(40, 4) + std::string(36, '\0');
    const std::string wave = LittleEndian(1, 2) + LittleEndian(2, 2) + LittleEndian(8000, 4) + LittleEndian(32000, 4) +
                             LittleEndian(4, 2) + LittleEndian(16, 2) + LittleEndian(0, 2);
    std::string hdrl = "hdrl" + chunk("avih", std::string(56, '\0')) + stream("vids", bitmap);
    for (int i = 0; i < audioStreams; ++i)
        hdrl += stream("auds", wave);
    const std::string body = "AVI " + chunk("LIST", hdrl) + chunk("LIST", "movi");
    return "RIFF" + LittleEndian(body.size(), 4) + body;
}

} // namespace quorvil::test
