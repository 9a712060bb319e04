#include "output_file.h"

#include <cstdio>

#include "ffmpeg_owned.h"
#include "file_system.h"
#include "new_file.h"
#include "quoted.h"
#include "script.h"

namespace vdub {

namespace {

using quorvil::Quoted;

// Bytes gathered before each write to the output file.
constexpr int kWriteBuffer = 256 * 1024;

} // namespace

OutputFile::OutputFile(std::string target, const char* format) : target_(std::move(target))
{
    if (avformat_alloc_output_context2(&context_, nullptr, format, nullptr) < 0 || !context_)
        throw Failure("cannot set up the " + std::string(format) + " writer");
}

OutputFile::~OutputFile()
{
    FreeIo();
    avformat_free_context(context_);
}

AVStream* OutputFile::CopyStream(const AVStream* from)
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

AVStream* OutputFile::NewStream()
{
    AVStream* stream = avformat_new_stream(context_, nullptr);
    if (!stream)
        throw Failure("out of memory");
    return stream;
}

void OutputFile::Begin(AVDictionary* options)
{
    const std::unique_ptr<AVDictionary*, void (*)(AVDictionary**)> owned(&options, av_dict_free);
    file_ = std::make_unique<tool::NewFile>(target_, ".vdub-", "");
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(kWriteBuffer));
    context_->pb = buffer ? avio_alloc_context(buffer, kWriteBuffer, 1, this, nullptr, WritePacket, SeekFile) : nullptr;
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

void OutputFile::Write(AVPacket* packet, AVRational from, const AVStream* to)
{
    av_packet_rescale_ts(packet, from, to->time_base);
    packet->stream_index = to->index;
    packet->pos = -1;
    const int rc = av_interleaved_write_frame(context_, packet);
    if (rc < 0)
        throw Failure("cannot write " + Quoted(target_) + ": " + AvError(rc));
}

void OutputFile::Finish()
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

void OutputFile::Commit()
{
    if (!finished_)
        throw Failure("cannot write " + Quoted(target_));
    file_->Commit();
}

void OutputFile::Withdraw()
{
    if (file_)
        file_->Withdraw();
}

void OutputFile::FreeIo()
{
    if (context_->pb) {
        av_freep(&context_->pb->buffer);
        avio_context_free(&context_->pb);
    }
}

int OutputFile::WritePacket(void* opaque, std::uint8_t* data, int size)
{
    auto* self = static_cast<OutputFile*>(opaque);
    self->file_->WillWrite(size);
    const int rc = WriteAll(self->file_->handle(), data, static_cast<std::size_t>(size));
    return rc < 0 ? rc : size;
}

std::int64_t OutputFile::SeekFile(void* opaque, std::int64_t offset, int whence)
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

} // namespace vdub
