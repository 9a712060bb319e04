#pragma once

// FFmpeg's objects as vdub owns them, and its words for an error.
#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswresample/swresample.h>
}

namespace vdub {

// FFmpeg's text for an AVERROR code.
[[nodiscard]] std::string AvError(int code);

struct CodecFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct ResamplerFree {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
using Codec = std::unique_ptr<AVCodecContext, CodecFree>;
using Packet = std::unique_ptr<AVPacket, PacketFree>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;
using Resampler = std::unique_ptr<SwrContext, ResamplerFree>;

// An empty packet. Throws Failure when there is no memory for it.
[[nodiscard]] Packet NewPacket();

} // namespace vdub
