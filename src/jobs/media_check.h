#pragma once

#include <cstdint>
#include <optional>
#include <string>

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

// The number of audio streams the headers of an AVI file declare; nothing when the file is not an
// AVI whose headers can be read.
[[nodiscard]] std::optional<int> CountAviAudioStreams(const std::string& path);

} // namespace quorvil
