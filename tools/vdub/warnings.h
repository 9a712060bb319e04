#pragma once

// vdub's warnings: what it converted all the same, but not whole. Each is a line
// "vdub: warning: ..." on its error output (tool::ReportWarning), after which it may still succeed;
// whoever runs vdub decides what that means for the source.
#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "script.h"
#include "source_reader.h"

namespace vdub {

// One line per kind of stream that is not (all) in the outputs: the job goes on with the first
// video and the first audio stream.
void WarnOfStreamsLeftOut(const Job& job, const AVFormatContext* input);

// The streams among `video` and `audio` whose chunks the index (one IndexFacts per stream, checked
// against the data) lists in another order than they lie: the outputs hold them as they lie, which
// FFmpeg, reading such a file by its index, may not.
void WarnOfIndexOrder(const Job& job, const std::vector<IndexFacts>& index, const AVStream* video,
                      const AVStream* audio);

// The samples of `source` beyond full scale that the 16-bit soundtrack cut, of all it holds.
void WarnOfCutSamples(const std::string& source, std::int64_t cut, std::int64_t samples);

} // namespace vdub
