#include "riff_writer.h"

#include "test_files.h"

namespace quorvil::test {

std::string Chunk(const std::string& id, const std::string& body)
{
    return id + LittleEndian(body.size(), 4) + body + (body.size() % 2 ? std::string(1, '\0') : "");
}

std::string List(const std::string& type, const std::vector<std::string>& chunks)
{
    std::string body = type;
    for (const auto& chunk : chunks)
        body += chunk;
    return Chunk("LIST", body);
}

std::string StreamHeader(const std::string& type)
{
    return Chunk("strh", type + std::string(52, '\0'));
}

std::string BitmapFormat(const std::string& compression)
{
    return Chunk("strf", LittleEndian(40, 4) + LittleEndian(160, 4) + LittleEndian(120, 4) + LittleEndian(1, 2) +
                             LittleEndian(24, 2) + compression + std::string(20, '\0'));
}

std::string WaveFormat(std::uint16_t tag, int bits, const std::string& extra)
{
    const auto bytes = static_cast<std::uint64_t>((bits + 7) / 8);
    return Chunk("strf", LittleEndian(tag, 2) + LittleEndian(2, 2) + LittleEndian(44100, 4) +
                             LittleEndian(44100 * 2 * bytes, 4) + LittleEndian(2 * bytes, 2) +
                             LittleEndian(static_cast<std::uint64_t>(bits), 2) + LittleEndian(extra.size(), 2) + extra);
}

std::string ExtensibleFormat(std::uint16_t tag, int bits)
{
    return WaveFormat(0xFFFE, bits,
                      LittleEndian(static_cast<std::uint64_t>(bits), 2) + LittleEndian(3, 4) + LittleEndian(tag, 2) +
                          std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14));
}

std::string FlacStreamInfo(int bits, bool withMarker)
{
    // Block sizes 4096, frame sizes unknown, then 20 bits of rate, 3 of channels - 1, 5 of bits - 1,
    // 36 of total samples, and the MD5 sum.
    const std::uint32_t rate = 44100;
    const auto b = static_cast<unsigned>(bits - 1);
    std::string info = LittleEndian(0x0010, 2) + LittleEndian(0x0010, 2) + std::string(6, '\0');
    info += static_cast<char>(rate >> 12);
    info += static_cast<char>((rate >> 4) & 0xFF);
    info += static_cast<char>(((rate & 0xF) << 4) | (1 << 1) | (b >> 4));
    info += static_cast<char>((b & 0xF) << 4);
    info += std::string(4 + 16, '\0');
    return withMarker ? "fLaC" + std::string("\x80\x00\x00\x22", 4) + info : info;
}

std::string StreamList(const std::vector<std::string>& chunks)
{
    return List("strl", chunks);
}

std::string VideoStream()
{
    return StreamList({StreamHeader("vids"), BitmapFormat()});
}

std::string AudioStream(const std::string& format)
{
    return StreamList({StreamHeader("auds"), format.empty() ? WaveFormat(1, 16) : format});
}

std::string Avi(const std::vector<std::string>& headerChunks)
{
    std::vector<std::string> hdrl{Chunk("avih", std::string(56, '\0'))};
    hdrl.insert(hdrl.end(), headerChunks.begin(), headerChunks.end());
    const std::string body = "AVI " + List("hdrl", hdrl) + List("movi", {});
    return "RIFF" + LittleEndian(body.size(), 4) + body;
}

} // namespace quorvil::test
