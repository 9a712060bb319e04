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
    // The data as it lies, checked against the index; where the index's order differs, the outputs
    // stay as they lie and the warning says so.
    const std::vector<IndexFacts> index = ReadIndex(file, job.source);
    CheckCompleteness(job, file, input, video, audio, counts, index);
    WarnOfIndexOrder(job, index, video, audio);

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
