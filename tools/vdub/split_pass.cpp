#include "split_pass.h"

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include "file_system.h"
#include "source_reader.h"

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

// The temporary files being written, where a signal handler can reach them: a tool ended by
// SIGTERM or SIGINT (as quorvil-split ends its tool when it is interrupted) removes them first.
constexpr int kMaxPending = 2;
char pendingNames[kMaxPending][4096];

extern "C" void RemovePendingAndExit(int signal)
{
    for (auto& name : pendingNames) {
        if (name[0] != '\0')
            RemoveFile(name);
    }
    std::_Exit(128 + signal);
}

// A short temporary name in the target's directory: appending to the target's own name would fail
// names that are long but fit.
std::string TemporaryName(const std::string& target, int slot)
{
    return DirectoryPart(target) + ".vdub-" + std::to_string(ProcessId()) + "-" + std::to_string(slot);
}

// One output file, written under a temporary name beside its target. Unless committed, the
// temporary file is removed when the object goes.
class OutputFile {
public:
    OutputFile(std::string target, const char* format, int slot)
        : target_(std::move(target)), temp_(TemporaryName(target_, slot)), slot_(slot)
    {
        if (temp_.size() >= sizeof pendingNames[0])
            throw Failure("cannot write " + Quoted(target_) + ": File name too long");
        std::memcpy(pendingNames[slot_], temp_.c_str(), temp_.size() + 1);
        HandleEndingSignals(RemovePendingAndExit);
        if (avformat_alloc_output_context2(&context_, nullptr, format, nullptr) < 0 || !context_) {
            pendingNames[slot_][0] = '\0';
            throw Failure("cannot set up the " + std::string(format) + " writer");
        }
    }

    ~OutputFile()
    {
        if (context_->pb)
            avio_closep(&context_->pb);
        if (!committed_)
            RemoveFile(temp_.c_str());
        pendingNames[slot_][0] = '\0';
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
        const std::unique_ptr<AVDictionary*, void (*)(AVDictionary**)> owned(&options, av_dict_free);
        int rc = avio_open(&context_->pb, FileUrl(temp_).c_str(), AVIO_FLAG_WRITE);
        if (rc < 0)
            throw Failure("cannot write " + Quoted(target_) + ": " + AvError(rc));
        rc = avformat_write_header(context_, &options);
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
        if (!finished_ || !MoveIntoPlace(temp_, target_))
            throw Failure("cannot write " + Quoted(target_));
        committed_ = true;
    }

    // Takes back a committed file when its sibling output could not be completed.
    void Withdraw()
    {
        if (committed_)
            RemoveFile(target_.c_str());
    }

private:
    std::string target_;
    std::string temp_;
    int slot_;
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
    WavWriter(const std::string& target, const AVStream* source) : file_(target, "wav", 0), source_(source)
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
            // Whole sample frames only, as FFmpeg's PCM decoders read a packet: a partial frame
            // left in would shift every later sample.
            const int block = source_->codecpar->block_align;
            if (block > 0 && packet->size % block != 0)
                av_shrink_packet(packet, packet->size - packet->size % block);
            if (packet->size > 0)
                file_.Write(packet, source_->time_base, stream_);
            return;
        }
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
            if (rc == AVERROR_INVALIDDATA) {
                ++damaged_;
                continue;
            }
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
    std::int64_t packets_ = 0;
    std::int64_t damaged_ = 0;
};

// What one pass read of a stream: its non-empty packets and their bytes, and all its packets.
struct StreamCount {
    std::int64_t packets = 0;
    std::int64_t bytes = 0;
    std::int64_t all = 0; // empty packets too
};

// Fails unless what was read is all the file holds, as far as its index and headers can tell.
void CheckCompleteness(const Job& job, const AVStream* video, const AVStream* audio,
                       const std::vector<StreamCount>& counts)
{
    const auto count = [&counts](const AVStream* stream) { return counts[static_cast<std::size_t>(stream->index)]; };
    if (!job.avi.empty() && count(video).packets == 0)
        throw Failure(Quoted(job.source) + " holds no video frames");
    if (!job.wav.empty() && count(audio).bytes == 0)
        throw Failure(Quoted(job.source) + " holds no sound");

    const std::vector<IndexFacts> index = ReadIndex(job.source);
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
    // Without an index, the stream header's frame count (dropped, empty frames included) is what
    // there is to go by; muxers differ by one frame in what they count.
    if (index.empty() && video && video->nb_frames > 0 && count(video).all + 1 < video->nb_frames)
        throw Failure("the headers of " + Quoted(job.source) + " name " + std::to_string(video->nb_frames) +
                      " video frames, but its data holds " + std::to_string(count(video).all) +
                      "; the file may be damaged");
}

} // namespace

void RunJob(const Job& job)
{
    // The data in file order, whatever the index says; the index is checked against it afterwards.
    const SourceReader source(job.source);
    AVFormatContext* input = source.get();
    int rc = avformat_find_stream_info(input, nullptr);
    if (rc < 0)
        throw Failure("cannot read " + Quoted(job.source) + ": " + AvError(rc));

    const AVStream* video = nullptr;
    const AVStream* audio = nullptr;
    int audioStreams = 0;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* s = input->streams[i];
        if (!video && s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC))
            video = s;
        if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && audioStreams++ == 0)
            audio = s;
    }
    if (!job.wav.empty() && !audio)
        throw Failure(Quoted(job.source) + " has no audio stream");
    if (!job.avi.empty() && !video)
        throw Failure(Quoted(job.source) + " has no video stream");
    if (audioStreams > 1 && !job.wav.empty())
        std::cerr << "vdub: " << Quoted(job.source) << " has " << audioStreams
                  << " audio streams; only the first is saved\n";

    std::unique_ptr<WavWriter> wav;
    if (!job.wav.empty())
        wav = std::make_unique<WavWriter>(job.wav, audio);

    std::unique_ptr<OutputFile> avi;
    const AVStream* aviVideo = nullptr;
    const AVStream* aviAudio = nullptr;
    if (!job.avi.empty()) {
        avi = std::make_unique<OutputFile>(job.avi, "avi", 1);
        aviVideo = avi->CopyStream(video);
        if (job.aviWithAudio && audio)
            aviAudio = avi->CopyStream(audio);
        avi->Begin();
    }

    std::vector<StreamCount> counts(input->nb_streams);
    const Packet packet = NewPacket();
    const Packet copy = NewPacket();
    while ((rc = av_read_frame(input, packet.get())) >= 0) {
        const AVStream* from = input->streams[packet->stream_index];
        ++counts[static_cast<std::size_t>(packet->stream_index)].all;
        if (packet->size > 0) {
            ++counts[static_cast<std::size_t>(packet->stream_index)].packets;
            counts[static_cast<std::size_t>(packet->stream_index)].bytes += packet->size;
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
    CheckCompleteness(job, video, audio, counts);

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
        } catch (const Failure&) {
            if (wav)
                wav->file().Withdraw();
            throw;
        }
    }
}

} // namespace vdub
