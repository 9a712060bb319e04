#include "media_check.h"

#include <algorithm>
#include <array>
#include <fstream>

#include "file_ops.h"
#include "riff_chunks.h"

namespace quorvil {

namespace {

// Little-endian reads from a file, with its size known, that never run past the end.
class Reader {
public:
    explicit Reader(const std::string& path) : in_(StreamPath(path), std::ios::binary)
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

    // What the chunk walker reads through.
    [[nodiscard]] ReadAt At()
    {
        return [this](std::uint64_t at, void* into, std::size_t n) -> std::size_t {
            if (!Seek(at))
                return 0;
            in_.read(static_cast<char*>(into), static_cast<std::streamsize>(n));
            return static_cast<std::size_t>(in_.gcount());
        };
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
    const ReadAt read = r.At();
    const auto header = ReadRiffHeader(read);
    if (!header || header->form != "WAVE" || (header->id != "RIFF" && header->id != "RF64"))
        return Problem("is not a WAV file");
    const bool rf64 = header->id == "RF64";

    std::uint64_t riffEnd = 8 + std::uint64_t{header->size};
    std::optional<std::uint64_t> dataSize64;
    std::optional<WavFacts> facts;
    RiffWalker chunks(read, 12, r.size());
    while (const auto chunk = chunks.Next()) {
        // A header's fields are read where they stand, whatever size its chunk states.
        (void)r.Seek(chunk->body());
        std::uint64_t size = chunk->size;
        if (chunk->id == "ds64" && rf64) {
            const auto riffSize = r.Number<std::uint64_t>();
            dataSize64 = r.Number<std::uint64_t>();
            if (!riffSize || !dataSize64)
                return Problem("has a damaged RF64 header");
            riffEnd = 8 + *riffSize;
        } else if (chunk->id == "fmt ") {
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
                if (size < 40 || !r.Seek(chunk->body() + 24))
                    return Problem("has a damaged format header");
                const auto sub = r.Number<std::uint16_t>();
                if (!sub)
                    return Problem("has a damaged format header");
                facts->format = *sub;
            }
        } else if (chunk->id == "data") {
            if (!facts)
                return Problem("has no format header before its data");
            if (rf64 && chunk->size == 0xFFFFFFFF) {
                if (!dataSize64)
                    return Problem("has a damaged RF64 header");
                size = *dataSize64;
            }
            const std::uint64_t dataEnd = chunk->body() + size;
            if (dataEnd > r.size() || riffEnd < dataEnd || riffEnd > r.size() + 1)
                return Problem("is shorter or longer than its header says");
            const std::uint64_t frameBytes = std::uint64_t{facts->channels} * ((facts->bitsPerSample + 7u) / 8u);
            if (size % frameBytes != 0)
                return Problem("ends in a partial sample frame");
            facts->frames = size / frameBytes;
            return {facts, {}};
        }
    }
    return Problem("has no data chunk");
}

namespace {

constexpr std::uint16_t kPcm = 1;
constexpr std::uint16_t kFloat = 3;
constexpr std::uint16_t kExtensible = 0xFFFE;
constexpr std::uint16_t kFlac = 0xF1AC;

// The bits per sample a FLAC stream's STREAMINFO block names: the raw block, or "fLaC" and the
// block's header before it, as FFmpeg takes either for the codec's extra data.
std::optional<int> FlacBits(const std::string& extra)
{
    std::size_t at = 0;
    if (extra.size() >= 4 && extra.compare(0, 4, "fLaC") == 0)
        at = 8;
    if (extra.size() < at + 34)
        return std::nullopt;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(extra[at + i]); };
    // 16 + 16 + 24 + 24 bits of block and frame sizes, 20 of rate, 3 of channels, then 5 of bits - 1.
    return (((byte(12) & 1) << 4) | (byte(13) >> 4)) + 1;
}

// What FFmpeg's decoder gives for an audio format header (WAVEFORMATEX and what follows it).
std::optional<SamplePrecision> PrecisionOf(const std::string& strf)
{
    const auto number = [&strf](std::size_t at, std::size_t bytes) -> std::optional<std::uint32_t> {
        if (strf.size() < at + bytes)
            return std::nullopt;
        std::uint32_t value = 0;
        for (std::size_t i = bytes; i-- > 0;)
            value = value << 8 | static_cast<unsigned char>(strf[at + i]);
        return value;
    };
    const auto tag = number(0, 2);
    if (!tag)
        return std::nullopt;
    std::uint32_t format = *tag;
    const auto bits = number(14, 2).value_or(0);
    if (format == kExtensible) { // the sub-format's first two bytes are the format
        const auto sub = number(24, 2);
        if (!sub)
            return std::nullopt;
        format = *sub;
    }
    switch (format) {
    case kPcm:
        if (bits == 0 || bits > 64)
            return std::nullopt;
        return SamplePrecision{false, static_cast<int>(bits)};
    case kFloat:
        if (bits != 32 && bits != 64)
            return std::nullopt;
        return SamplePrecision{true, static_cast<int>(bits)};
    case kFlac: {
        const auto extraSize = number(16, 2);
        if (!extraSize)
            return std::nullopt;
        const auto flacBits = FlacBits(strf.substr(18, *extraSize));
        if (!flacBits)
            return std::nullopt;
        return SamplePrecision{false, *flacBits};
    }
    default: // lossy and other formats decode to 16-bit samples
        return SamplePrecision{false, 16};
    }
}

std::string Count(int n, const char* what)
{
    return std::to_string(n) + " " + what + (n == 1 ? " stream" : " streams");
}

std::string Describe(const SamplePrecision& precision)
{
    return std::to_string(precision.bits) + (precision.isFloat ? "-bit floating-point" : "-bit");
}

} // namespace

std::optional<StreamCensus> ReadStreamCensus(const std::string& path)
{
    Reader r(path);
    if (!r.ok())
        return std::nullopt;
    const ReadAt read = r.At();
    const auto header = ReadRiffHeader(read);
    if (!header || header->id != "RIFF" || header->form != "AVI ")
        return std::nullopt;
    StreamCensus census;
    // The headers are read as one run of chunks, a list's chunks taken where the list stands, up to
    // the movi list: a stream header counts wherever it is.
    enum class Kind { none, video, audio, skipped } last = Kind::none;
    bool formatRead = true; // of the last stream header: only its first format header counts
    bool firstAudio = true;
    RiffWalker chunks(read, 12, r.size());
    while (const auto chunk = chunks.Next()) {
        if (chunk->id == "LIST") {
            const auto type = chunks.BodyTag(*chunk);
            if (!type)
                return std::nullopt;
            if (*type == "movi")
                return census;
            chunks.Enter(*chunk);
        } else if (chunk->id == "strh") {
            const auto type = chunks.BodyTag(*chunk);
            if (!type)
                return std::nullopt;
            formatRead = false;
            last = Kind::skipped;
            if (*type == "vids") {
                ++census.video;
                last = Kind::video;
            } else if (*type == "auds") {
                ++census.audio;
                last = firstAudio ? Kind::audio : Kind::skipped;
                firstAudio = false;
            } else if (*type == "txts") {
                ++census.subtitle;
            } else if (*type == "dats") {
                ++census.data;
            } else {
                census.other.push_back(type->text());
            }
        } else if (chunk->id == "strf" && !formatRead) {
            formatRead = true;
            std::string strf(std::min<std::uint32_t>(chunk->size, 4096), '\0');
            if (read(chunk->body(), strf.data(), strf.size()) != strf.size())
                return std::nullopt;
            if (last == Kind::video && strf.size() >= 20 &&
                (strf.compare(16, 4, "DXSB") == 0 || strf.compare(16, 4, "DXSA") == 0)) {
                --census.video; // a bitmap subtitle, in a video stream's clothes
                ++census.subtitle;
            } else if (last == Kind::audio) {
                census.audioPrecision = PrecisionOf(strf);
            }
        }
    }
    // The file ends, or a header cannot be read, before the movi list.
    return std::nullopt;
}

std::string NoRightChannel(const std::string& soundtrack)
{
    const WavCheck check = ReadWavFacts(soundtrack);
    return check.facts && check.facts->channels == 1 ? "it has one audio channel; there is no right channel" : "";
}

std::string StreamsLeftOut(const StreamCensus& census)
{
    const int others = census.subtitle + census.data + static_cast<int>(census.other.size());
    if (census.video == 1 && census.audio == 1 && others == 0)
        return {};
    if (census.video == 1 && census.audio > 1 && others == 0)
        return "it has " + Count(census.audio, "audio") + "; only the first is in the outputs";
    std::vector<std::string> parts = {Count(census.video, "video"), Count(census.audio, "audio")};
    if (census.subtitle > 0)
        parts.push_back(Count(census.subtitle, "subtitle"));
    if (census.data > 0)
        parts.push_back(Count(census.data, "data"));
    for (const std::string& type : census.other)
        parts.push_back("a stream of type \"" + type + "\"");
    std::string text = "it has ";
    for (std::size_t i = 0; i < parts.size(); ++i)
        text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    return text + "; only the first video and the first audio stream are in the outputs";
}

std::string PrecisionLost(const SamplePrecision& source, const WavFacts& soundtrack)
{
    const bool isFloat = soundtrack.format == kFloat;
    bool holds = false;
    if (soundtrack.format == kPcm)
        holds = !source.isFloat && soundtrack.bitsPerSample >= source.bits;
    else if (isFloat) // a float's mantissa holds integers of 24 (32-bit) or 53 (64-bit) bits exactly
        holds = source.isFloat ? soundtrack.bitsPerSample >= source.bits
                               : source.bits <= (soundtrack.bitsPerSample >= 64 ? 53 : 24);
    if (holds)
        return {};
    return "its audio has " + Describe(source) + " samples, the outputs only " +
           Describe({isFloat, soundtrack.bitsPerSample}) + " ones";
}

} // namespace quorvil
