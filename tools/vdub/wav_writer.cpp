#include "wav_writer.h"

#include <cmath>
#include <cstring>

extern "C" {
#include <libswresample/swresample.h>
}

#include "quoted.h"
#include "script.h"
#include "warnings.h"

namespace vdub {

namespace {

using quorvil::Quoted;

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

} // namespace

WavWriter::WavWriter(const std::string& target, const AVStream* source) : file_(target, "wav"), source_(source)
{
    if (IsPcmForWav(source->codecpar->codec_id)) {
        stream_ = file_.CopyStream(source);
        stream_->codecpar->codec_tag = 0; // the WAV writer picks its own
        Begin();
    } else {
        OpenDecoder(); // the file begins with the first decoded frame, which says what it holds
    }
}

WavWriter::~WavWriter()
{
    av_channel_layout_uninit(&layout_);
}

void WavWriter::Add(AVPacket* packet)
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

void WavWriter::Finish(const std::string& source)
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
        WarnOfCutSamples(source, cut_, samples_);
}

void WavWriter::Begin()
{
    AVDictionary* options = nullptr;
    av_dict_set(&options, "rf64", "auto", 0); // past 4 GiB the header becomes RF64
    file_.Begin(options);
}

void WavWriter::OpenDecoder()
{
    const AVCodec* codec = avcodec_find_decoder(source_->codecpar->codec_id);
    if (!codec)
        throw Failure("no decoder for the audio codec " + std::string(avcodec_get_name(source_->codecpar->codec_id)));
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

void WavWriter::BeginWith(const AVFrame* frame)
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

void WavWriter::Follow(const AVFrame* frame)
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

void WavWriter::Drain()
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

void WavWriter::OpenResampler(const AVFrame* frame)
{
    SwrContext* s = nullptr;
    // FFmpeg 5.1 takes the layouts through non-const pointers but only reads them.
    auto* layout = const_cast<AVChannelLayout*>(&frame->ch_layout);
    if (swr_alloc_set_opts2(&s, layout, out_.samples, rate_, layout, static_cast<AVSampleFormat>(frame->format), rate_,
                            0, nullptr) < 0)
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

void WavWriter::Convert(const std::uint8_t** data, int samples)
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

void WavWriter::PackTo24Bits(std::uint8_t* data, std::size_t samples)
{
    for (std::size_t i = 0; i < samples; ++i) {
        if (data[4 * i] != 0)
            throw Failure("the decoded audio holds more than the 24 bits its decoder states");
        std::memmove(data + 3 * i, data + 4 * i + 1, 3);
    }
}

} // namespace vdub
