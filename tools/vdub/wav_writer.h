#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include "ffmpeg_owned.h"
#include "output_file.h"

namespace vdub {

// How decoded audio is written: its sample format for the resampler, which only converts and
// interleaves (same rate, same layout), and its codec in the WAV file.
struct PcmLayout {
    AVSampleFormat samples;
    AVCodecID codec;
    int bytes; // per sample in the file
};

// The soundtrack as a WAV file: PCM copied as it is, anything else decoded, to 16-bit PCM when the
// codec is lossy, to its own precision when it is lossless. FFmpeg's WAV writer gives samples of more
// than 16 bits (and float, and rates above 48 kHz) an extensible header that states them.
class WavWriter {
public:
    WavWriter(const std::string& target, const AVStream* source);
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // The next packet of the source's audio stream; takes its data.
    void Add(AVPacket* packet);
    // Completes the file, still without its name; fails when packets could not be decoded. Warns of
    // samples the 16-bit soundtrack had to cut.
    void Finish(const std::string& source);

    OutputFile& file() { return file_; }

private:
    void Begin();
    void OpenDecoder();
    // The first frame decides the soundtrack's channels, rate and precision.
    void BeginWith(const AVFrame* frame);
    // A frame unlike those before it: the converter is set up anew where the soundtrack can hold it
    // unchanged; a WAV file holds one channel count and one rate, so a change of those fails.
    void Follow(const AVFrame* frame);
    void Drain();
    // Only ever a change of sample format and interleaving: the layout and rate on both sides are
    // the frame's, so nothing is mixed or resampled.
    void OpenResampler(const AVFrame* frame);
    // Converts samples (nullptr: what the converter still holds) into packets.
    void Convert(const std::uint8_t** data, int samples);
    // 32-bit samples that hold 24 bits become 3 bytes each, in place. A low byte that is not 0
    // would be lost: that fails rather than write less than the decoder gave.
    static void PackTo24Bits(std::uint8_t* data, std::size_t samples);

    OutputFile file_;
    const AVStream* source_;
    AVStream* stream_ = nullptr;
    Codec decoder_;
    Frame frame_;
    Resampler resampler_;
    PcmLayout out_{};
    AVChannelLayout layout_{};
    int rate_ = 0;
    int inFormat_ = -1;
    std::int64_t written_ = 0;
    std::int64_t packets_ = 0;
    std::int64_t damaged_ = 0;
    std::int64_t cut_ = 0;     // samples beyond full scale, cut in the 16-bit soundtrack
    std::int64_t samples_ = 0; // all samples decoded to 16 bits
};

} // namespace vdub
