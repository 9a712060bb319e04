#include "split_pass.h"

#include <exception>
#include <memory>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "completeness.h"
#include "ffmpeg_owned.h"
#include "file_system.h"
#include "quoted.h"
#include "output_file.h"
#include "source_reader.h"
#include "warnings.h"
#include "wav_writer.h"

namespace vdub {

using quorvil::Quoted;

namespace {

// The streams the outputs take: the first video stream that is not a cover picture, and the first
// audio stream.
struct Streams {
    const AVStream* video = nullptr;
    const AVStream* audio = nullptr;
};

// The outputs the job asks for, each still without its name, and the streams of the AVI.
struct Outputs {
    std::unique_ptr<WavWriter> wav;
    std::unique_ptr<OutputFile> avi;
    const AVStream* aviVideo = nullptr;
    const AVStream* aviAudio = nullptr;
};

// Fails when the source lacks a stream an output needs.
Streams ChooseStreams(const Job& job, const AVFormatContext* input)
{
    Streams chosen;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* s = input->streams[i];
        if (!chosen.video && s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(s->disposition & AV_DISPOSITION_ATTACHED_PIC))
            chosen.video = s;
        if (!chosen.audio && s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            chosen.audio = s;
    }
    if (!job.wav.empty() && !chosen.audio)
        throw Failure(Quoted(job.source) + " has no audio stream");
    if (!job.avi.empty() && !chosen.video)
        throw Failure(Quoted(job.source) + " has no video stream");
    return chosen;
}

Outputs BeginOutputs(const Job& job, const Streams& streams)
{
    Outputs outputs;
    if (!job.wav.empty())
        outputs.wav = std::make_unique<WavWriter>(job.wav, streams.audio);
    if (!job.avi.empty()) {
        outputs.avi = std::make_unique<OutputFile>(job.avi, "avi");
        outputs.aviVideo = outputs.avi->CopyStream(streams.video);
        if (job.aviWithAudio && streams.audio)
            outputs.aviAudio = outputs.avi->CopyStream(streams.audio);
        outputs.avi->Begin();
    }
    return outputs;
}

// Reads the source to its end in file order, handing each packet to the outputs that take its
// stream; the packets and bytes read of each stream.
std::vector<StreamCount> CopyPackets(const Job& job, AVFormatContext* input, const Streams& streams, Outputs& outputs)
{
    std::vector<StreamCount> counts(input->nb_streams);
    const Packet packet = NewPacket();
    const Packet copy = NewPacket();
    int rc;
    while ((rc = av_read_frame(input, packet.get())) >= 0) {
        const auto at = static_cast<std::size_t>(packet->stream_index);
        if (at >= counts.size()) // a stream found while reading, which no output takes
            counts.resize(at + 1);
        const AVStream* from = input->streams[packet->stream_index];
        if (packet->size > 0) {
            ++counts[at].packets;
            counts[at].bytes += packet->size;
        }
        if (from == streams.video && outputs.avi) {
            outputs.avi->Write(packet.get(), from->time_base, outputs.aviVideo);
        } else if (from == streams.audio) {
            if (outputs.aviAudio) {
                if (av_packet_ref(copy.get(), packet.get()) < 0)
                    throw Failure("out of memory");
                outputs.avi->Write(copy.get(), from->time_base, outputs.aviAudio);
            }
            if (outputs.wav)
                outputs.wav->Add(packet.get());
        }
        av_packet_unref(packet.get());
    }
    if (rc != AVERROR_EOF)
        throw Failure("cannot read " + Quoted(job.source) + ": " + AvError(rc));
    return counts;
}

// Completes both outputs, and only then gives them their names: neither is named without the other.
void FinishAndCommit(const Job& job, Outputs& outputs)
{
    if (outputs.wav)
        outputs.wav->Finish(job.source);
    if (outputs.avi)
        outputs.avi->Finish();
    if (outputs.wav)
        outputs.wav->file().Commit();
    if (outputs.avi) {
        try {
            outputs.avi->Commit();
        } catch (const std::exception&) {
            if (outputs.wav)
                outputs.wav->file().Withdraw();
            throw;
        }
    }
}

} // namespace

void RunJob(const Job& job)
{
    // The data in file order, whatever the index says; the index is checked against it afterwards.
    const InputFile file(job.source);
    const SourceReader source(file, job.source, true);
    AVFormatContext* input = source.get();
    if (const int rc = avformat_find_stream_info(input, nullptr); rc < 0)
        throw Failure("cannot read " + Quoted(job.source) + ": " + AvError(rc));
    const Streams streams = ChooseStreams(job, input);
    WarnOfStreamsLeftOut(job, input);

    Outputs outputs = BeginOutputs(job, streams);
    const std::vector<StreamCount> counts = CopyPackets(job, input, streams, outputs);
    // The data as it lies, checked against the index; where the index's order differs, the outputs
    // stay as they lie and the warning says so.
    const std::vector<IndexFacts> index = ReadIndex(file, job.source);
    CheckCompleteness(job, file, input, streams.video, streams.audio, counts, index);
    WarnOfIndexOrder(job, index, streams.video, streams.audio);
    FinishAndCommit(job, outputs);
}

} // namespace vdub
