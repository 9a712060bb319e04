#include "split_pass.h"

#include <array>
#include <cstdio>
#include <memory>

#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace vdub {

namespace {

std::string AvError(int code)
{
    std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
    av_strerror(code, text.data(), text.size());
    return text.data();
}

std::string Quoted(const std::string& path)
{
    return '"' + path + '"';
}

// "file:" keeps libavformat from reading a name such as "a:b.avi" or "pipe:x" as a protocol.
std::string FileUrl(const std::string& path)
{
    return "file:" + path;
}

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

// One output file, written under a temporary name beside its target. Unless committed, the
// temporary file is removed when the object goes.
class OutputFile {
public:
    OutputFile(std::string target, const char* format)
        : target_(std::move(target)), temp_(target_ + ".part" + std::to_string(::getpid()))
    {
        if (avformat_alloc_output_context2(&context_, nullptr, format, nullptr) < 0 || !context_)
            throw Failure("cannot set up the " + std::string(format) + " writer");
    }

    ~OutputFile()
    {
        if (context_->pb)
            avio_closep(&context_->pb);
        if (!committed_)
            std::remove(temp_.c_str());
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

    void Begin(AVDictionary* options = nullptr)
    {
        int rc = avio_open(&context_->pb, FileUrl(temp_).c_str(), AVIO_FLAG_WRITE);
        if (rc < 0)
            throw Failure("cannot write " + Quoted(target_) + ": " + AvError(rc));
        rc = avformat_write_header(context_, &options);
        av_dict_free(&options);
        if (rc < 0)
            throw Failure("cannot write " + Quoted(target_) + ": " + AvError(rc));
    }

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

    // Completes the file under its temporary name.
    void Finish()
    {
        int rc = av_write_trailer(context_);
        if (rc >= 0)
            rc = avio_closep(&context_->pb);
        if (rc < 0)
            throw Failure("cannot write " + Quoted(target_) + ": " + AvError(rc));
        finished_ = true;
    }

    // Gives the finished file its name.
    void Commit()
    {
        if (!finished_ || std::rename(temp_.c_str(), target_.c_str()) != 0)
            throw Failure("cannot write " + Quoted(target_));
        committed_ = true;
    }

    // Takes back a committed file when its sibling output could not be completed.
    void Withdraw()
    {
        if (committed_)
            std::remove(target_.c_str());
    }

private:
    std::string target_;
    std::string temp_;
    AVFormatContext* context_ = nullptr;
    bool finished_ = false;
    bool committed_ = false;
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

// The soundtrack as a WAV file: PCM copied as it is, anything else decoded to 16-bit PCM.
class WavWriter {
public:
    WavWriter(const std::string& target, const AVStream* source) : file_(target, "wav"), source_(source)
    {
        if (IsPcmForWav(source->codecpar->codec_id)) {
            stream_ = file_.CopyStream(source);
            stream_->codecpar->codec_tag = 0; // the WAV writer picks its own
        } else {
            OpenDecoder();
        }
        AVDictionary* options = nullptr;
        av_dict_set(&options, "rf64", "auto", 0); // past 4 GiB the header becomes RF64
        file_.Begin(options);
    }

    void Add(AVPacket* packet)
    {
        if (!decoder_) {
            file_.Write(packet, source_->time_base, stream_);
            return;
        }
        const int rc = avcodec_send_packet(decoder_.get(), packet);
        av_packet_unref(packet);
        // A damaged packet costs its samples, not the whole soundtrack.
        if (rc < 0 && rc != AVERROR_INVALIDDATA)
            throw Failure("cannot decode the audio: " + AvError(rc));
        Drain();
    }

    void Finish()
    {
        if (decoder_) {
            avcodec_send_packet(decoder_.get(), nullptr);
            Drain();
            if (resampler_)
                Convert(nullptr, 0);
        }
        file_.Finish();
    }

    OutputFile& file() { return file_; }

private:
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

        stream_ = file_.NewStream();
        AVCodecParameters* out = stream_->codecpar;
        out->codec_type = AVMEDIA_TYPE_AUDIO;
        out->codec_id = AV_CODEC_ID_PCM_S16LE;
        out->sample_rate = decoder_->sample_rate;
        av_channel_layout_copy(&out->ch_layout, &decoder_->ch_layout);
        out->bits_per_coded_sample = 16;
        out->block_align = 2 * out->ch_layout.nb_channels;
        stream_->time_base = {1, out->sample_rate};
        frame_.reset(av_frame_alloc());
        if (!frame_)
            throw Failure("out of memory");
    }

    void Drain()
    {
        for (;;) {
            const int rc = avcodec_receive_frame(decoder_.get(), frame_.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return;
            if (rc < 0)
                throw Failure("cannot decode the audio: " + AvError(rc));
            if (!resampler_)
                OpenResampler(frame_.get());
            Convert(const_cast<const std::uint8_t**>(frame_->extended_data), frame_->nb_samples);
            av_frame_unref(frame_.get());
        }
    }

    void OpenResampler(const AVFrame* frame)
    {
        SwrContext* s = nullptr;
        const AVCodecParameters* out = stream_->codecpar;
        // FFmpeg 5.1 takes the layouts through non-const pointers but only reads them.
        if (swr_alloc_set_opts2(&s, const_cast<AVChannelLayout*>(&out->ch_layout), AV_SAMPLE_FMT_S16, out->sample_rate,
                                const_cast<AVChannelLayout*>(&frame->ch_layout),
                                static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr) < 0)
            throw Failure("cannot convert the decoded audio");
        resampler_.reset(s);
        if (swr_init(s) < 0)
            throw Failure("cannot convert the decoded audio");
    }

    // Converts samples (nullptr: what the resampler still holds) into 16-bit packets.
    void Convert(const std::uint8_t** data, int samples)
    {
        const int room = swr_get_out_samples(resampler_.get(), samples);
        if (room <= 0)
            return;
        const int bytesPerSample = stream_->codecpar->block_align;
        Packet packet = NewPacket();
        if (av_new_packet(packet.get(), room * bytesPerSample) < 0)
            throw Failure("out of memory");
        std::uint8_t* out = packet->data;
        const int converted = swr_convert(resampler_.get(), &out, room, data, samples);
        if (converted < 0)
            throw Failure("cannot convert the decoded audio");
        if (converted == 0)
            return;
        av_shrink_packet(packet.get(), converted * bytesPerSample);
        packet->pts = packet->dts = written_;
        packet->duration = converted;
        written_ += converted;
        file_.Write(packet.get(), stream_->time_base, stream_);
    }

    OutputFile file_;
    const AVStream* source_;
    AVStream* stream_ = nullptr;
    Codec decoder_;
    Frame frame_;
    Resampler resampler_;
    std::int64_t written_ = 0;
};

} // namespace

void RunJob(const Job& job)
{
    AVFormatContext* raw = nullptr;
    int rc = avformat_open_input(&raw, FileUrl(job.source).c_str(), nullptr, nullptr);
    if (rc < 0)
        throw Failure("cannot open " + Quoted(job.source) + ": " + AvError(rc));
    const Input input(raw);
    rc = avformat_find_stream_info(input.get(), nullptr);
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

    const Packet packet = NewPacket();
    const Packet copy = NewPacket();
    while ((rc = av_read_frame(input.get(), packet.get())) >= 0) {
        const AVStream* from = input->streams[packet->stream_index];
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

    if (wav)
        wav->Finish();
    if (avi)
        avi->Finish();
    // Both are complete: only now do they take their names.
    if (wav)
        wav->file().Commit();
    if (avi) {
        try {
            avi->Commit();
        } catch (const Failure&) {
            if (wav)
                wav->file().Withdraw();
            throw;
        }
    }
}

} // namespace vdub
