#include "media_check.h"

#include <array>
#include <fstream>

namespace quorvil {

namespace {

// Little-endian reads from a file, with its size known, that never run past the end.
class Reader {
public:
    explicit Reader(const std::string& path) : in_(path, std::ios::binary)
    {
        if (in_) {
            in_.seekg(0, std::ios::end);
            size_ = static_cast<std::uint64_t>(in_.tellg());
            in_.seekg(0);
        }
    }

    [[nodiscard]] bool ok() const { return static_cast<bool>(in_); }
    [[nodiscard]] std::uint64_t size() const { return size_; }

    bool Seek(std::uint64_t at)
    {
        if (at > size_)
            return false;
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(at));
        return static_cast<bool>(in_);
    }

    bool Bytes(char* out, std::size_t n) { return static_cast<bool>(in_.read(out, static_cast<std::streamsize>(n))); }

    std::optional<std::string> Tag()
    {
        std::array<char, 4> tag{};
        if (!Bytes(tag.data(), tag.size()))
            return std::nullopt;
        return std::string(tag.data(), tag.size());
    }

    template <class T> std::optional<T> Number()
    {
        std::array<unsigned char, sizeof(T)> b{};
        if (!Bytes(reinterpret_cast<char*>(b.data()), b.size()))
            return std::nullopt;
        T value = 0;
        for (std::size_t i = b.size(); i-- > 0;)
            value = static_cast<T>((value << 8) | b[i]);
        return value;
    }

private:
    std::ifstream in_;
    std::uint64_t size_ = 0;
};

WavCheck Problem(std::string text)
{
    return {std::nullopt, std::move(text)};
}

} // namespace

WavCheck ReadWavFacts(const std::string& path)
{
    Reader r(path);
    if (!r.ok())
        return Problem("cannot be read");
    const auto riff = r.Tag();
    const auto riffSize32 = r.Number<std::uint32_t>();
    const auto wave = r.Tag();
    if (!riff || !riffSize32 || wave != "WAVE" || (riff != "RIFF" && riff != "RF64"))
        return Problem("is not a WAV file");

    std::uint64_t riffEnd = 8 + std::uint64_t{*riffSize32};
    std::optional<std::uint64_t> dataSize64;
    std::optional<WavFacts> facts;
    std::uint64_t at = 12;
    for (;;) {
        if (!r.Seek(at))
            return Problem("has no data chunk");
        const auto id = r.Tag();
        const auto size32 = r.Number<std::uint32_t>();
        if (!id || !size32)
            return Problem("has no data chunk");
        std::uint64_t size = *size32;
        if (*id == "ds64" && riff == "RF64") {
            const auto riffSize = r.Number<std::uint64_t>();
            dataSize64 = r.Number<std::uint64_t>();
            if (!riffSize || !dataSize64)
                return Problem("has a damaged RF64 header");
            riffEnd = 8 + *riffSize;
        } else if (*id == "fmt ") {
            const auto format = r.Number<std::uint16_t>();
            const auto channels = r.Number<std::uint16_t>();
            const auto rate = r.Number<std::uint32_t>();
            (void)r.Number<std::uint32_t>(); // bytes per second
            const auto blockAlign = r.Number<std::uint16_t>();
            const auto bits = r.Number<std::uint16_t>();
            if (!format || !channels || !rate || !blockAlign || !bits || *channels == 0 || *bits == 0 ||
                *blockAlign != *channels * ((*bits + 7) / 8))
                return Problem("has a damaged format header");
            facts = WavFacts{*format, *channels, *rate, *bits, 0};
            if (*format == 0xFFFE) { // extensible: the sub-format's first two bytes are the format
                if (size < 40 || !r.Seek(at + 8 + 24))
                    return Problem("has a damaged format header");
                const auto sub = r.Number<std::uint16_t>();
                if (!sub)
                    return Problem("has a damaged format header");
                facts->format = *sub;
            }
        } else if (*id == "data") {
            if (!facts)
                return Problem("has no format header before its data");
            if (riff == "RF64" && *size32 == 0xFFFFFFFF) {
                if (!dataSize64)
                    return Problem("has a damaged RF64 header");
                size = *dataSize64;
            }
            const std::uint64_t dataEnd = at + 8 + size;
            if (dataEnd > r.size() || riffEnd < dataEnd || riffEnd > r.size() + 1)
                return Problem("is shorter or longer than its header says");
            const std::uint64_t frameBytes = std::uint64_t{facts->channels} * ((facts->bitsPerSample + 7u) / 8u);
            if (size % frameBytes != 0)
                return Problem("ends in a partial sample frame");
            facts->frames = size / frameBytes;
            return {facts, {}};
        }
        at += 8 + size + (size & 1);
    }
}

std::optional<int> CountAviAudioStreams(const std::string& path)
{
    Reader r(path);
    if (!r.ok() || r.Tag() != "RIFF" || !r.Number<std::uint32_t>() || r.Tag() != "AVI ")
        return std::nullopt;
    // The first list of the file is hdrl: the main header, then one strl list per stream.
    if (r.Tag() != "LIST")
        return std::nullopt;
    const auto hdrlSize = r.Number<std::uint32_t>();
    if (!hdrlSize || r.Tag() != "hdrl")
        return std::nullopt;
    const std::uint64_t end = 12 + 8 + std::uint64_t{*hdrlSize};
    if (end > r.size())
        return std::nullopt;
    int audio = 0;
    std::uint64_t at = 12 + 12;
    while (at + 8 <= end) {
        if (!r.Seek(at))
            return std::nullopt;
        const auto id = r.Tag();
        const auto size = r.Number<std::uint32_t>();
        if (!id || !size)
            return std::nullopt;
        if (*id == "LIST" && r.Tag() == "strl" && r.Tag() == "strh" && r.Number<std::uint32_t>() && r.Tag() == "auds")
            ++audio;
        at += 8 + std::uint64_t{*size} + (*size & 1);
    }
    return audio;
}

} // namespace quorvil
