#include "split_pass.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include "file_system.h"
#include "new_file.h"
#include "source_reader.h"
#include "tool_report.h"

namespace vdub {

namespace {

std::string AvError(int code)
{
    std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
    av_strerror(code, text.data(), text.size());
    return text.data();
}

using tool::Quoted;

struct InputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
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
using Input = std::unique_ptr<AVFormatContext, InputCloser>;
using Codec = std::unique_ptr<AVCodecContext, CodecFree>;
using Packet = std::unique_ptr<AVPacket, PacketFree>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;
using Resampler = std::unique_ptr<SwrContext, ResamplerFree>;

Packet NewPacket()
{
    Packet p(av_packet_alloc());
    if (!p)
        throw Failure("out of memory");
    return p;
}

// Bytes gathered before each write to the output file.
constexpr int kWriteBuffer = 256 * 1024;

// One output file, created by tool::NewFile (exclusively, nameless or under a temporary name until
// committed) and written by FFmpeg's muxer through our own I/O. Unless committed, the file is gone
// when the object goes.
class OutputFile {
public:
    OutputFile(std::string target, const char* format) : target_(std::move(target))
    {
        if (avformat_alloc_output_context2(&context_, nullptr, format, nullptr) < 0 || !context_)
            throw Failure("cannot set up the " + std::string(format) + " writer");
    }

    ~OutputFile()
    {
        FreeIo();
        avformat_free_context(context_);
    }

    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // A stream that takes the packets of `from` unchanged.
    AVStream* CopyStream(const AVStream* from)
    {
        AVStream* stream = NewStream();
        if (avcodec_parameters_copy(stream->codecpar, from->codecpar) < 0)
            throw Failure("out of memory");
        // Keep the source's codec tag where the container allows it, as a stream copy should.
        const AVCodecTag* const* tags = context_->oformat->codec_tag;
        unsigned int tag = 0;
        const AVCodecParameters* source = from->codecpar;
        if (tags && av_codec_get_id(tags, source->codec_tag) != source->codec_id &&
            av_codec_get_tag2(tags, source->codec_id, &tag))
            stream->codecpar->codec_tag = 0;
        stream->time_base = from->time_base;
        stream->avg_frame_rate = from->avg_frame_rate;
        stream->r_frame_rate = from->r_frame_rate;
        stream->sample_aspect_ratio = from->sample_aspect_ratio;
        return stream;
    }

    AVStream* NewStream()
    {
        AVStream* stream = avformat_new_stream(context_, nullptr);
        if (!stream)
            throw Failure("out of memory");
        return stream;
    }

    // Creates the file and writes its header.
    void Begin(AVDictionary* options = nullptr)
    {
        const std::unique_ptr<AVDictionary*, void (*)(AVDictionary**)> owned(&options, av_dict_free);
        file_ = std::make_unique<tool::NewFile>(target_, ".vdub-", "");
        auto* buffer = static_cast<std::uint8_t*>(av_malloc(kWriteBuffer));
        context_->pb =
            buffer ? avio_alloc_context(buffer, kWriteBuffer, 1, this, nullptr, WritePacket, SeekFile) : nullptr;
        if (!context_->pb) {
            av_free(buffer);
            throw Failure("out of memory");
        }
        context_->flags |= AVFMT_FLAG_CUSTOM_IO;
        // The muxer would flush the buffer after every packet (a write call per audio chunk, 16 KiB):
        // ours is a file, written in whole buffers.
        context_->flush_packets = 0;
        const int rc = avformat_write_header(context_, &options);
        if (rc < 0)
            throw Failure("cannot write " + Quoted(target_) + ": " + AvError(rc));
    }

    [[nodiscard]] bool begun() const { return file_ != nullptr; }

    // Writes the packet, timed in `from`'s time base, to stream `to`; takes its data.
    void Write(AVPacket* packet, AVRational from, const AVStream* to)
    {
        av_packet_rescale_ts(packet, from, to->time_base);
        packet->stream_index = to->index;
        packet->pos = -1;
        const int rc = av_interleaved_write_frame(context_, packet);
        if (rc < 0)
            throw Failure("cannot write " + Quoted(target_) + ": " + AvError(rc));
    }

    // Completes the file, still without its name.
    void Finish()
    {
        int rc = av_write_trailer(context_);
        if (rc >= 0) {
            avio_flush(context_->pb);
            rc = context_->pb->error;
        }
        if (rc < 0)
            throw Failure("cannot write " + Quoted(target_) + ": " + AvError(rc));
        FreeIo();
        finished_ = true;
    }

    // Gives the finished file its name.
    void Commit()
    {
        if (!finished_)
            throw Failure("cannot write " + Quoted(target_));
        file_->Commit();
    }

    // Takes back a committed file when its sibling output could not be completed.
    void Withdraw()
    {
        if (file_)
            file_->Withdraw();
    }

private:
    std::string target_;
    AVFormatContext* context_ = nullptr;
    std::unique_ptr<tool::NewFile> file_;
    bool finished_ = false;

    void FreeIo()
    {
        if (context_->pb) {
            av_freep(&context_->pb->buffer);
            avio_context_free(&context_->pb);
        }
    }

    // FFmpeg 5.1 hands the buffer over as non-const.
    static int WritePacket(void* opaque, std::uint8_t* data, int size)
    {
        auto* self = static_cast<OutputFile*>(opaque);
        self->file_->WillWrite(size);
        const int rc = WriteAll(self->file_->handle(), data, static_cast<std::size_t>(size));
        return rc < 0 ? rc : size;
    }

    static std::int64_t SeekFile(void* opaque, std::int64_t offset, int whence)
    {
        auto* self = static_cast<OutputFile*>(opaque);
        if (whence & AVSEEK_SIZE) {
            const std::int64_t here = vdub::SeekFile(self->file_->handle(), 0, SEEK_CUR);
            const std::int64_t size = vdub::SeekFile(self->file_->handle(), 0, SEEK_END);
            if (here >= 0)
                (void)vdub::SeekFile(self->file_->handle(), here, SEEK_SET);
            return size;
        }
        return vdub::SeekFile(self->file_->handle(), offset, whence & ~AVSEEK_FORCE);
    }
};

bool IsPcmForWav(AVCodecID id)
{
    switch (id) {
    case AV_CODEC_ID_PCM_U8:
    case AV_CODEC_ID_PCM_S16LE:
    case AV_CODEC_ID_PCM_S24LE:
    case AV_CODEC_ID_PCM_S32LE:
    case AV_CODEC_ID_PCM_F32LE:
    case AV_CODEC_ID_PCM_F64LE:
        return true;
    default:
        return false;
    }
}

// How decoded audio is written: its sample format for the resampler, which only converts and
// interleaves (same rate, same layout), and its codec in the WAV file.
struct PcmLayout {
    AVSampleFormat samples;
    AVCodecID codec;
    int bytes; // per sample in the file
};

// Audio from a lossy decoder is written as 16-bit PCM. Audio from a lossless one keeps every bit it
// gives: 24 of a 32-bit sample that holds 24, float as float.
PcmLayout OutputLayout(AVSampleFormat decoded, int rawBits, bool lossless)
{
    if (!lossless)
        return {AV_SAMPLE_FMT_S16, AV_CODEC_ID_PCM_S16LE, 2};
    switch (av_get_packed_sample_fmt(decoded)) {
    case AV_SAMPLE_FMT_U8:
        return {AV_SAMPLE_FMT_U8, AV_CODEC_ID_PCM_U8, 1};
    case AV_SAMPLE_FMT_S16:
        return {AV_SAMPLE_FMT_S16, AV_CODEC_ID_PCM_S16LE, 2};
    case AV_SAMPLE_FMT_S32:
        if (rawBits > 0 && rawBits <= 24)
            return {AV_SAMPLE_FMT_S32, AV_CODEC_ID_PCM_S24LE, 3};
        return {AV_SAMPLE_FMT_S32, AV_CODEC_ID_PCM_S32LE, 4};
    case AV_SAMPLE_FMT_FLT:
        return {AV_SAMPLE_FMT_FLT, AV_CODEC_ID_PCM_F32LE, 4};
    case AV_SAMPLE_FMT_DBL:
        return {AV_SAMPLE_FMT_DBL, AV_CODEC_ID_PCM_F64LE, 8};
    default:
        throw Failure(std::string("cannot write the decoded audio's ") + av_get_sample_fmt_name(decoded) +
                      " samples without losing precision");
    }
}

// Whether samples of `from` fit `to` exactly.
bool FitsExactly(AVSampleFormat from, AVSampleFormat to)
{
    from = av_get_packed_sample_fmt(from);
    if (from == to || from == AV_SAMPLE_FMT_U8 || from == AV_SAMPLE_FMT_S16)
        return to != AV_SAMPLE_FMT_U8 || from == AV_SAMPLE_FMT_U8;
    return to == AV_SAMPLE_FMT_DBL && (from == AV_SAMPLE_FMT_S32 || from == AV_SAMPLE_FMT_FLT);
}

// How many of a frame's samples a conversion to 16 bits cuts: floating-point ones beyond full scale
// (a lossy decoder gives them for loud sound), rounded as the converter rounds them.
std::int64_t CutAt16Bits(const AVFrame* frame)
{
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const AVSampleFormat packed = av_get_packed_sample_fmt(format);
    if (packed != AV_SAMPLE_FMT_FLT && packed != AV_SAMPLE_FMT_DBL)
        return 0;
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int channels = frame->ch_layout.nb_channels;
    const std::size_t perPlane = static_cast<std::size_t>(frame->nb_samples) * (planar ? 1 : channels);
    const auto beyond = [](double sample) {
        const double scaled = std::nearbyint(sample * 32768.0);
        return !(scaled >= -32768.0 && scaled <= 32767.0); // NaN too
    };
    std::int64_t cut = 0;
    for (int plane = 0; plane < (planar ? channels : 1); ++plane) {
        const std::uint8_t* data = frame->extended_data[plane];
        for (std::size_t i = 0; i < perPlane; ++i) {
            if (packed == AV_SAMPLE_FMT_FLT)
                cut += beyond(reinterpret_cast<const float*>(data)[i]);
            else
                cut += beyond(reinterpret_cast<const double*>(data)[i]);
        }
    }
    return cut;
}

bool IsLossless(AVCodecID id)
{
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(id);
    return descriptor && (descriptor->props & AV_CODEC_PROP_LOSSLESS);
}

// The soundtrack as a WAV file: PCM copied as it is, anything else decoded, to 16-bit PCM when the
// codec is lossy, to its own precision when it is lossless. FFmpeg's WAV writer gives samples of more
// than 16 bits (and float, and rates above 48 kHz) an extensible header that states them.
class WavWriter {
public:
    WavWriter(const std::string& target, const AVStream* source) : file_(target, "wav"), source_(source)
    {
        if (IsPcmForWav(source->codecpar->codec_id)) {
            stream_ = file_.CopyStream(source);
            stream_->codecpar->codec_tag = 0; // the WAV writer picks its own
            Begin();
        } else {
            OpenDecoder(); // the file begins with the first decoded frame, which says what it holds
        }
    }

    ~WavWriter() { av_channel_layout_uninit(&layout_); }
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    void Add(AVPacket* packet)
    {
        if (!decoder_) {
            // Whole sample frames only, as FFmpeg's PCM decoders read a packet: a partial frame
            // left in would shift every later sample.
            const int block = source_->codecpar->block_align;
            if (block > 0 && packet->size % block != 0)
                av_shrink_packet(packet, packet->size - packet->size % block);
            if (packet->size > 0)
                file_.Write(packet, source_->time_base, stream_);
            return;
        }
        if (packet->size == 0) // an empty chunk holds nothing; to the decoder it would mean the end
            return;
        ++packets_;
        const int rc = avcodec_send_packet(decoder_.get(), packet);
        av_packet_unref(packet);
        if (rc == AVERROR_INVALIDDATA)
            ++damaged_; // counted: the conversion fails at the end rather than leave a gap in the sound
        else if (rc < 0)
            throw Failure("cannot decode the audio: " + AvError(rc));
        Drain();
    }

    void Finish(const std::string& source)
    {
        if (decoder_) {
            avcodec_send_packet(decoder_.get(), nullptr);
            Drain();
            if (resampler_)
                Convert(nullptr, 0);
            if (damaged_ > 0 || written_ == 0)
                throw Failure("cannot decode the audio of " + Quoted(source) + ": " + std::to_string(damaged_) +
                              " of its " + std::to_string(packets_) + " packets are damaged or not " +
                              avcodec_get_name(source_->codecpar->codec_id));
        }
        file_.Finish();
        // Written all the same (a 16-bit soundtrack is what users and the channel tool expect), but
        // said, so that the source is not taken for being whole in it.
        if (cut_ > 0)
            tool::ReportWarning("vdub: warning: " + std::to_string(cut_) + " of the " + std::to_string(samples_) +
                                " audio samples of " + Quoted(source) +
                                " are beyond full scale and were cut to it in the 16-bit soundtrack");
    }

    OutputFile& file() { return file_; }

private:
    void Begin()
    {
        AVDictionary* options = nullptr;
        av_dict_set(&options, "rf64", "auto", 0); // past 4 GiB the header becomes RF64
        file_.Begin(options);
    }

    void OpenDecoder()
    {
        const AVCodec* codec = avcodec_find_decoder(source_->codecpar->codec_id);
        if (!codec)
            throw Failure("no decoder for the audio codec " +
                          std::string(avcodec_get_name(source_->codecpar->codec_id)));
        decoder_.reset(avcodec_alloc_context3(codec));
        if (!decoder_ || avcodec_parameters_to_context(decoder_.get(), source_->codecpar) < 0 ||
            avcodec_open2(decoder_.get(), codec, nullptr) < 0)
            throw Failure("cannot decode the audio codec " + std::string(codec->name));
        if (decoder_->ch_layout.nb_channels <= 0 || decoder_->sample_rate <= 0)
            throw Failure("the audio stream has no channels or no sample rate");
        frame_.reset(av_frame_alloc());
        if (!frame_)
            throw Failure("out of memory");
    }

    // The first frame decides the soundtrack's channels, rate and precision.
    void BeginWith(const AVFrame* frame)
    {
        const auto decoded = static_cast<AVSampleFormat>(frame->format);
        if (frame->ch_layout.nb_channels <= 0 || frame->sample_rate <= 0)
            throw Failure("the decoded audio has no channels or no sample rate");
        out_ = OutputLayout(decoded, decoder_->bits_per_raw_sample, IsLossless(source_->codecpar->codec_id));
        if (av_channel_layout_copy(&layout_, &frame->ch_layout) < 0)
            throw Failure("out of memory");
        rate_ = frame->sample_rate;
        stream_ = file_.NewStream();
        AVCodecParameters* out = stream_->codecpar;
        out->codec_type = AVMEDIA_TYPE_AUDIO;
        out->codec_id = out_.codec;
        out->sample_rate = rate_;
        if (av_channel_layout_copy(&out->ch_layout, &layout_) < 0)
            throw Failure("out of memory");
        out->bits_per_coded_sample = 8 * out_.bytes;
        out->block_align = out_.bytes * layout_.nb_channels;
        stream_->time_base = {1, rate_};
        Begin();
    }

    // A frame unlike those before it: the converter is set up anew where the soundtrack can hold it
    // unchanged; a WAV file holds one channel count and one rate, so a change of those fails.
    void Follow(const AVFrame* frame)
    {
        const std::string after = " after " + std::to_string(written_) + " sample frames";
        if (frame->ch_layout.nb_channels != layout_.nb_channels)
            throw Failure("the audio changes from " + std::to_string(layout_.nb_channels) + " to " +
                          std::to_string(frame->ch_layout.nb_channels) + " channels" + after +
                          "; a WAV file cannot hold that");
        if (frame->sample_rate != rate_)
            throw Failure("the audio changes its sample rate from " + std::to_string(rate_) + " to " +
                          std::to_string(frame->sample_rate) + " Hz" + after + "; a WAV file cannot hold that");
        const auto decoded = static_cast<AVSampleFormat>(frame->format);
        if (IsLossless(source_->codecpar->codec_id) &&
            (!FitsExactly(decoded, out_.samples) ||
             (out_.bytes == 3 && !(decoder_->bits_per_raw_sample > 0 && decoder_->bits_per_raw_sample <= 24))))
            throw Failure(std::string("the audio changes its samples to ") + av_get_sample_fmt_name(decoded) + after +
                          ", more precise than the soundtrack begun");
        Convert(nullptr, 0);
        resampler_.reset();
    }

    void Drain()
    {
        for (;;) {
            const int rc = avcodec_receive_frame(decoder_.get(), frame_.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return;
            if (rc == AVERROR_INVALIDDATA) {
                ++damaged_;
                continue;
            }
            if (rc < 0)
                throw Failure("cannot decode the audio: " + AvError(rc));
            const AVFrame* frame = frame_.get();
            if (!stream_)
                BeginWith(frame);
            else if (frame->format != inFormat_ || frame->sample_rate != rate_ ||
                     av_channel_layout_compare(&frame->ch_layout, &layout_) != 0)
                Follow(frame);
            if (!resampler_)
                OpenResampler(frame);
            if (out_.samples == AV_SAMPLE_FMT_S16) {
                cut_ += CutAt16Bits(frame);
                samples_ += std::int64_t{frame->nb_samples} * frame->ch_layout.nb_channels;
            }
            Convert(const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
            av_frame_unref(frame_.get());
        }
    }

    // Only ever a change of sample format and interleaving: the layout and rate on both sides are
    // the frame's, so nothing is mixed or resampled.
    void OpenResampler(const AVFrame* frame)
    {
        SwrContext* s = nullptr;
        // FFmpeg 5.1 takes the layouts through non-const pointers but only reads them.
        auto* layout = const_cast<AVChannelLayout*>(&frame->ch_layout);
        if (swr_alloc_set_opts2(&s, layout, out_.samples, rate_, layout, static_cast<AVSampleFormat>(frame->format),
                                rate_, 0, nullptr) < 0)
            throw Failure("cannot convert the decoded audio");
        resampler_.reset(s);
        if (swr_init(s) < 0)
            throw Failure("cannot convert the decoded audio");
        inFormat_ = frame->format;
        if (av_channel_layout_compare(&frame->ch_layout, &layout_) != 0) {
            av_channel_layout_uninit(&layout_);
            if (av_channel_layout_copy(&layout_, &frame->ch_layout) < 0)
                throw Failure("out of memory");
        }
    }

    // Converts samples (nullptr: what the converter still holds) into packets.
    void Convert(const std::uint8_t** data, int samples)
    {
        const int room = swr_get_out_samples(resampler_.get(), samples);
        if (room <= 0)
            return;
        const int channels = layout_.nb_channels;
        const int convertedBytes = av_get_bytes_per_sample(out_.samples);
        Packet packet = NewPacket();
        if (av_new_packet(packet.get(), room * channels * convertedBytes) < 0)
            throw Failure("out of memory");
        std::uint8_t* out = packet->data;
        const int converted = swr_convert(resampler_.get(), &out, room, data, samples);
        if (converted < 0)
            throw Failure("cannot convert the decoded audio");
        if (converted == 0)
            return;
        if (out_.bytes == 3)
            PackTo24Bits(packet->data, static_cast<std::size_t>(converted) * static_cast<std::size_t>(channels));
        av_shrink_packet(packet.get(), converted * channels * out_.bytes);
        packet->pts = packet->dts = written_;
        packet->duration = converted;
        written_ += converted;
        file_.Write(packet.get(), stream_->time_base, stream_);
    }

    // 32-bit samples that hold 24 bits become 3 bytes each, in place. A low byte that is not 0
    // would be lost: that fails rather than write less than the decoder gave.
    static void PackTo24Bits(std::uint8_t* data, std::size_t samples)
    {
        for (std::size_t i = 0; i < samples; ++i) {
            if (data[4 * i] != 0)
                throw Failure("the decoded audio holds more than the 24 bits its decoder states");
            std::memmove(data + 3 * i, data + 4 * i + 1, 3);
        }
    }

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

// What a pass read of a stream: its non-empty packets and their bytes, and all its packets.
struct StreamCount {
    std::int64_t packets = 0;
    std::int64_t bytes = 0;
    std::int64_t all = 0; // empty packets too
};

// Every stream's chunks (empty ones too: a dropped frame) and bytes as the reader finds them in
// file order, read once more without parsers.
std::vector<StreamCount> CountChunks(const InputFile& file, const std::string& path)
{
    const SourceReader reader(file, path, true, AVFMT_FLAG_NOPARSE);
    AVFormatContext* input = reader.get();
    std::vector<StreamCount> counts(input->nb_streams);
    for (unsigned i = 0; i < input->nb_streams; ++i)
        input->streams[i]->discard = AVDISCARD_NONE; // else the reader passes over empty chunks
    const Packet packet = NewPacket();
    int rc;
    while ((rc = av_read_frame(input, packet.get())) >= 0) {
        const auto at = static_cast<std::size_t>(packet->stream_index);
        if (at < counts.size()) {
            ++counts[at].all;
            counts[at].bytes += packet->size;
        }
        av_packet_unref(packet.get());
    }
    if (rc != AVERROR_EOF)
        throw Failure("cannot read " + Quoted(path) + ": " + AvError(rc));
    return counts;
}

// The stream header (strh) of a stream FFmpeg read. FFmpeg numbers its streams as we read the
// headers; a file that reads otherwise cannot be checked.
const StreamLength& HeaderOf(const Job& job, const AVStream* stream, const std::vector<StreamLength>& headers)
{
    if (stream->id < 0 || static_cast<std::size_t>(stream->id) >= headers.size())
        throw Failure("cannot read the stream headers of " + Quoted(job.source) + "; the file may be damaged");
    return headers[static_cast<std::size_t>(stream->id)];
}

// Fails unless what was read is all the file holds, as far as its index and headers can tell.
void CheckCompleteness(const Job& job, const InputFile& file, const AVFormatContext* input, const AVStream* video,
                       const AVStream* audio, const std::vector<StreamCount>& counts)
{
    const auto count = [&counts](const AVStream* stream) { return counts[static_cast<std::size_t>(stream->index)]; };
    if (!job.avi.empty() && count(video).packets == 0)
        throw Failure(Quoted(job.source) + " holds no video frames");
    if (!job.wav.empty() && count(audio).bytes == 0)
        throw Failure(Quoted(job.source) + " holds no sound");

    const std::vector<IndexFacts> index = ReadIndex(file, job.source);
    if (!index.empty() && index.size() != input->nb_streams)
        throw Failure("the index of " + Quoted(job.source) + " names " + std::to_string(index.size()) +
                      " streams, its headers " + std::to_string(input->nb_streams) + "; the file may be damaged");
    const auto disagree = [&](const char* what, const std::string& indexSays, const std::string& dataHolds) {
        return Failure("the index of " + Quoted(job.source) + " does not agree with its data (" + what +
                       ": the index names " + indexSays + ", the data holds " + dataHolds +
                       "); the file may be damaged");
    };
    for (const AVStream* stream : {video, audio}) {
        if (!stream || index.empty())
            continue;
        const IndexFacts& says = index[static_cast<std::size_t>(stream->index)];
        const StreamCount holds = count(stream);
        const bool isVideo = stream == video;
        // Audio chunks may be read as several packets: only their bytes must agree.
        if ((isVideo && says.entries != holds.packets) || says.bytes != holds.bytes)
            throw disagree(isVideo ? "video" : "audio",
                           std::to_string(says.entries) + " chunks of " + std::to_string(says.bytes) + " bytes",
                           std::to_string(holds.packets) + " packets of " + std::to_string(holds.bytes) + " bytes");
    }
    if (!index.empty())
        return;

    // Without an index (a recording cut off before it was written), the stream headers' lengths are
    // what there is to go by, and they must be met exactly: a damaged chunk header makes the reader
    // pass over that chunk. They count chunks, which a parser may split, join or (when empty) drop.
    const std::vector<StreamLength> headers = ReadStreamLengths(file);
    const std::vector<StreamCount> chunks = CountChunks(file, job.source);
    for (const AVStream* stream : {video, audio}) {
        if (!stream)
            continue;
        const StreamLength& header = HeaderOf(job, stream, headers);
        if (static_cast<std::size_t>(stream->index) >= chunks.size())
            throw Failure("cannot read the stream headers of " + Quoted(job.source) + "; the file may be damaged");
        const StreamCount holds = chunks[static_cast<std::size_t>(stream->index)];
        const bool isVideo = stream == video;
        const bool inSamples = !isVideo && header.sampleSize > 0;
        const std::int64_t found = inSamples ? holds.bytes / header.sampleSize : holds.all;
        if (!header.known || found != header.length)
            throw Failure("the headers of " + Quoted(job.source) + " name " +
                          (header.known ? std::to_string(header.length) : std::string("no length of its")) +
                          (isVideo     ? " video frames"
                           : inSamples ? " audio samples"
                                       : " audio chunks") +
                          ", but its data holds " + std::to_string(found) + "; the file may be damaged");
    }
}

const char* KindName(AVMediaType type)
{
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
        return "video";
    case AVMEDIA_TYPE_AUDIO:
        return "audio";
    case AVMEDIA_TYPE_SUBTITLE:
        return "subtitle";
    case AVMEDIA_TYPE_DATA:
        return "data";
    default:
        return "other";
    }
}

// One line per kind of stream that is not (all) in the outputs: the job goes on with the first
// video and the first audio stream, and whoever runs vdub decides what that means for the source.
void WarnOfStreamsLeftOut(const Job& job, const AVFormatContext* input)
{
    int counts[AVMEDIA_TYPE_NB + 1] = {};
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const int type = input->streams[i]->codecpar->codec_type;
        ++counts[type >= 0 && type < AVMEDIA_TYPE_NB ? type : AVMEDIA_TYPE_NB];
    }
    for (int type = 0; type <= AVMEDIA_TYPE_NB; ++type) {
        const int n = counts[type];
        const auto kind = static_cast<AVMediaType>(type);
        std::string fate;
        // Video and sound only where the job saves them.
        if (kind == AVMEDIA_TYPE_VIDEO && n > 1 && !job.avi.empty())
            fate = "only the first is in the video";
        else if (kind == AVMEDIA_TYPE_AUDIO && n > 1 && !job.wav.empty())
            fate = "only the first is in the soundtrack";
        else if (kind == AVMEDIA_TYPE_AUDIO && n > 1 && job.aviWithAudio && !job.avi.empty())
            fate = "only the first is in the video";
        else if (kind != AVMEDIA_TYPE_VIDEO && kind != AVMEDIA_TYPE_AUDIO && n > 0)
            fate = n == 1 ? "it is in no output" : "they are in no output";
        if (!fate.empty())
            tool::ReportWarning("vdub: warning: " + Quoted(job.source) + " has " + std::to_string(n) + " " +
                                (type == AVMEDIA_TYPE_NB ? "other" : KindName(kind)) + " stream" + (n == 1 ? "" : "s") +
                                "; " + fate);
    }
}

} // namespace

void RunJob(const Job& job)
{
    // The data in file order, whatever the index says; the index is checked against it afterwards.
    const InputFile file(job.source);
    const SourceReader source(file, job.source, true);
    AVFormatContext* input = source.get();
    int rc = avformat_find_stream_info(input, nullptr);
    if (rc < 0)
        throw Failure("cannot read " + Quoted(job.source) + ": " + AvError(rc));

    const AVStream* video = nullptr;
    const AVStream* audio = nullptr;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* s = input->streams[i];
        if (!video && s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC))
            video = s;
        if (!audio && s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            audio = s;
    }
    if (!job.wav.empty() && !audio)
        throw Failure(Quoted(job.source) + " has no audio stream");
    if (!job.avi.empty() && !video)
        throw Failure(Quoted(job.source) + " has no video stream");
    WarnOfStreamsLeftOut(job, input);

    std::unique_ptr<WavWriter> wav;
    if (!job.wav.empty())
        wav = std::make_unique<WavWriter>(job.wav, audio);

    std::unique_ptr<OutputFile> avi;
    const AVStream* aviVideo = nullptr;
    const AVStream* aviAudio = nullptr;
    if (!job.avi.empty()) {
        avi = std::make_unique<OutputFile>(job.avi, "avi");
        aviVideo = avi->CopyStream(video);
        if (job.aviWithAudio && audio)
            aviAudio = avi->CopyStream(audio);
        avi->Begin();
    }

    std::vector<StreamCount> counts(input->nb_streams);
    const Packet packet = NewPacket();
    const Packet copy = NewPacket();
    while ((rc = av_read_frame(input, packet.get())) >= 0) {
        const auto at = static_cast<std::size_t>(packet->stream_index);
        if (at >= counts.size()) // a stream found while reading, which no output takes
            counts.resize(at + 1);
        const AVStream* from = input->streams[packet->stream_index];
        if (packet->size > 0) {
            ++counts[at].packets;
            counts[at].bytes += packet->size;
        }
        if (from == video && avi) {
            avi->Write(packet.get(), from->time_base, aviVideo);
        } else if (from == audio) {
            if (aviAudio) {
                if (av_packet_ref(copy.get(), packet.get()) < 0)
                    throw Failure("out of memory");
                avi->Write(copy.get(), from->time_base, aviAudio);
            }
            if (wav)
                wav->Add(packet.get());
        }
        av_packet_unref(packet.get());
    }
    if (rc != AVERROR_EOF)
        throw Failure("cannot read " + Quoted(job.source) + ": " + AvError(rc));
    CheckCompleteness(job, file, input, video, audio, counts);

    if (wav)
        wav->Finish(job.source);
    if (avi)
        avi->Finish();
    // Both are complete: only now do they take their names.
    if (wav)
        wav->file().Commit();
    if (avi) {
        try {
            avi->Commit();
        } catch (const std::exception&) {
            if (wav)
                wav->file().Withdraw();
            throw;
        }
    }
}

} // namespace vdub
