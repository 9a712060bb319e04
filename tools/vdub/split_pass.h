#pragma once

#include "script.h"

namespace vdub {

// Reads job.source once and writes every output the job asks for in that one pass: the video
// stream copied packet for packet into an AVI, the soundtrack into a WAV (PCM copied sample for
// sample, anything else decoded to 16-bit PCM). Each output is written under a temporary name
// beside its target and renamed into place only when complete. Throws Failure.
void RunJob(const Job& job);

} // namespace vdub
