#include "warnings.h"

#include "quoted.h"
#include "tool_report.h"

namespace vdub {

namespace {

using quorvil::Quoted;

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

} // namespace

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

void WarnOfIndexOrder(const Job& job, const std::vector<IndexFacts>& index, const AVStream* video,
                      const AVStream* audio)
{
    std::string kinds;
    for (const AVStream* stream : {video, audio}) {
        const auto at = stream ? static_cast<std::size_t>(stream->index) : index.size();
        if (at < index.size() && !index[at].inFileOrder)
            kinds += std::string(kinds.empty() ? "" : " and ") + (stream == video ? "video" : "audio");
    }
    if (!kinds.empty())
        tool::ReportWarning("vdub: warning: the index of " + Quoted(job.source) + " lists its " + kinds +
                            " chunks in another order than they lie in the file; the outputs hold them as they lie");
}

void WarnOfCutSamples(const std::string& source, std::int64_t cut, std::int64_t samples)
{
    tool::ReportWarning("vdub: warning: " + std::to_string(cut) + " of the " + std::to_string(samples) +
                        " audio samples of " + Quoted(source) +
                        " are beyond full scale and were cut to it in the 16-bit soundtrack");
}

} // namespace vdub
