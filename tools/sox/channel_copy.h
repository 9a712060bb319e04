#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sox {

// Any failure of the channel copy: the one line printed before a non-zero exit.
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The one command form we serve ourselves: `sox IN OUT remix N`, both names WAV files, N a single
// channel counted from 1 ("-1" is SoX's range 1 to 1, so channel 1 too).
struct ChannelCopy {
    std::string input;
    std::string output;
    int channel = 0;
};

// The copy the arguments (after the program name) ask for; nothing when they are any other
// command line, which belongs to the system's SoX.
[[nodiscard]] std::optional<ChannelCopy> ParseChannelCopy(const std::vector<std::string>& arguments);

// Copies bytes of sample `channel` (from 0) out of interleaved frames of `channels` samples of
// `bytesPerSample` bytes each: frames * bytesPerSample bytes into out.
void Deinterleave(const unsigned char* in, std::size_t frames, int channels, int bytesPerSample, int channel,
                  unsigned char* out);

// Writes the channel alone as a mono WAV of the input's sample format and rate, samples bit for
// bit, with an extensible header for more than 16 bits. Both names are read literally. The output
// gets its name only when complete, so a failure leaves no OUT. Throws Failure.
void RunChannelCopy(const ChannelCopy& copy);

} // namespace sox
