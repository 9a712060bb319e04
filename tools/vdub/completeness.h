#pragma once

#include <cstdint>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "file_system.h"
#include "script.h"
#include "source_reader.h"

namespace vdub {

// What a pass read of a stream: its non-empty packets and their bytes, and all its packets.
struct StreamCount {
    std::int64_t packets = 0;
    std::int64_t bytes = 0;
    std::int64_t all = 0; // empty packets too
};

// Fails unless what was read is all the file holds, as far as its index (ReadIndex) and headers can
// tell: `counts` are what the pass read of each stream, in file order.
void CheckCompleteness(const Job& job, const InputFile& file, const AVFormatContext* input, const AVStream* video,
                       const AVStream* audio, const std::vector<StreamCount>& counts,
                       const std::vector<IndexFacts>& index);

} // namespace vdub
