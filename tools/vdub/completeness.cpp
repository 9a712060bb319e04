#include "completeness.h"

#include <string>

#include "ffmpeg_owned.h"
#include "quoted.h"
#include "source_reader.h"

namespace vdub {

namespace {

using quorvil::Quoted;

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

} // namespace

void CheckCompleteness(const Job& job, const InputFile& file, const AVFormatContext* input, const AVStream* video,
                       const AVStream* audio, const std::vector<StreamCount>& counts,
                       const std::vector<IndexFacts>& index)
{
    const auto count = [&counts](const AVStream* stream) { return counts[static_cast<std::size_t>(stream->index)]; };
    if (!job.avi.empty() && count(video).packets == 0)
        throw Failure(Quoted(job.source) + " holds no video frames");
    if (!job.wav.empty() && count(audio).bytes == 0)
        throw Failure(Quoted(job.source) + " holds no sound");

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

} // namespace vdub
