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

// A PCM WAV file of silence: 16-bit unless told otherwise.
[[nodiscard]] inline std::string WavBytes(int channels, std::uint32_t frames, std::uint32_t rate = 8000, int bits = 16)
{
    const std::uint32_t block = static_cast<std::uint32_t>(channels * bits / 8);
    const std::uint32_t data = block * frames;
    return "RIFF" + LittleEndian(36 + data, 4) + "WAVEfmt " + LittleEndian(16, 4) + LittleEndian(1, 2) +
           LittleEndian(static_cast<std::uint64_t>(channels), 2) + LittleEndian(rate, 4) +
           LittleEndian(rate * block, 4) + LittleEndian(block, 2) + LittleEndian(static_cast<std::uint64_t>(bits), 2) +
           "data" + LittleEndian(data, 4) + std::string(data, '\0');
}

// The start of an AVI file as far as its stream headers: one video stream, then audio streams.
[[nodiscard]] inline std::string AviBytes(int audioStreams)
{
    const auto chunk = [](const std::string& id, const std::string& body) {
        return id + LittleEndian(body.size(), 4) + body + (body.size() % 2 ? std::string(1, '\0') : "");
    };
    const auto stream = [&](const char* type) {
        return chunk("LIST", "strl" + chunk("strh", type + std::string(52, '\0')));
    };
    std::string hdrl = "hdrl" + chunk("avih", std::string(56, '\0')) + stream("vids");
    for (int i = 0; i < audioStreams; ++i)
        hdrl += stream("auds");
    const std::string body = "AVI " + chunk("LIST", hdrl) + chunk("LIST", "movi");
    return "RIFF" + LittleEndian(body.size(), 4) + body;
}

} // namespace quorvil::test
