#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvil {

// What a WAV file's header says, once it has been found to agree with the file's size.
struct WavFacts {
    std::uint16_t format = 0; // 1 integer PCM, 3 float, ...; an extensible header's sub-format
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint64_t frames = 0;

    friend bool operator==(const WavFacts&, const WavFacts&) = default;
};

struct WavCheck {
    std::optional<WavFacts> facts;
    std::string problem; // why there are no facts: "is not a WAV file", "is shorter than its header says", ...
};

// Reads the header of a WAV or RF64 file and checks it against the file: a data chunk that ends
// within the file and holds whole sample frames. Reads a few hundred bytes, whatever the size.
[[nodiscard]] WavCheck ReadWavFacts(const std::string& path);

// Why the right channel's tool could not copy channel 2 of a soundtrack that has only one; empty
// when the soundtrack has more, or cannot be read.
[[nodiscard]] std::string NoRightChannel(const std::string& soundtrack);

// How finely a decoder gives its samples: integers of `bits` bits, or floating point of `bits`.
struct SamplePrecision {
    bool isFloat = false;
    int bits = 16;

    friend bool operator==(const SamplePrecision&, const SamplePrecision&) = default;
};

// The streams the headers of an AVI file declare, found as FFmpeg finds them: every stream header
// (strh) before the movi list, in whatever list it stands and wherever in that list.
struct StreamCensus {
    int video = 0;                  // vids
    int audio = 0;                  // auds
    int subtitle = 0;               // txts, and vids whose format is a subtitle (DXSB, DXSA)
    int data = 0;                   // dats
    std::vector<std::string> other; // the type of every other stream (iavs, mids, ...)
    // What the first audio stream's decoder gives, from its format header (strf); nothing when that
    // cannot be told.
    std::optional<SamplePrecision> audioPrecision;
};

// Nothing when the file is not an AVI whose headers can be read.
[[nodiscard]] std::optional<StreamCensus> ReadStreamCensus(const std::string& path);

// Why the outputs, one video stream and the first audio stream, do not carry everything the census
// names; empty when they do (exactly one video and one audio stream, nothing else).
[[nodiscard]] std::string StreamsLeftOut(const StreamCensus& census);

// Why a soundtrack holds the source's audio less finely than its decoder gives it; empty when it
// does not.
[[nodiscard]] std::string PrecisionLost(const SamplePrecision& source, const WavFacts& soundtrack);

} // namespace quorvil
