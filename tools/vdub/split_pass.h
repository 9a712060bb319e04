#pragma once

#include "script.h"

namespace vdub {

// Reads job.source once and writes every output the job asks for in that one pass: the video
// stream copied packet for packet into an AVI, the soundtrack into a WAV (PCM copied sample for
// sample, lossless codecs decoded to their own precision, lossy ones to 16-bit PCM). Each output is
// a tool::NewFile, named only when complete; without an index, the stream headers' lengths must be
// met exactly. Streams no output carries are named in a warning line each, and so is an index that
// lists the chunks of the outputs' streams in another order than they lie. Throws Failure.
void RunJob(const Job& job);

} // namespace vdub
