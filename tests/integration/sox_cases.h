#pragma once

// What our sox must do on every platform: rows that the Linux and the Windows tests both run, each
// with the inputs its platform makes.
namespace quorvil::test {

// Each PCM sample format a WAV from the video tool can hold, with more channels than one where the
// format allows, so that every channel of a frame is copied from its own place.
struct SoxFormat {
    const char* codec; // the name the ffmpeg tool gives it
    int channels;
    int bytesPerSample;
    bool isFloat;
};
inline constexpr SoxFormat kSoxFormats[] = {
    {"pcm_u8", 1, 1, false},    {"pcm_s16le", 2, 2, false}, {"pcm_s24le", 6, 3, false},
    {"pcm_s32le", 2, 4, false}, {"pcm_f32le", 6, 4, true},  {"pcm_f64le", 2, 8, true},
};

// Failures that must end with one line, exit code 2, and neither the output nor a temporary file.
enum class SoxFault {
    missingChannel,   // a channel past the input's count (the input is a stereo WAV)
    truncated,        // a WAV cut short of what its header says
    oneFrameShort,    // a WAV whose sample data ends one frame before its header says
    notSound,         // a text file named .wav
    unwritableFolder, // an output where no file can be made
    fullDisk,         // an output on a disk with room for less than the channel
};
struct SoxFailure {
    SoxFault fault;
    const char* channel;
    const char* message; // part of the line
};
inline constexpr SoxFailure kSoxFailures[] = {
    {SoxFault::missingChannel, "3", "has 2 channels, so there is no channel 3"},
    {SoxFault::truncated, "1", "is shorter than its header says"},
    {SoxFault::oneFrameShort, "2", "is shorter than its header says"},
    {SoxFault::notSound, "1", "cannot read"},
    {SoxFault::unwritableFolder, "1", "cannot write"},
    {SoxFault::fullDisk, "2", "cannot write"},
};

} // namespace quorvil::test
