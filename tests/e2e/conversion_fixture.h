#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "test_support.h"

namespace quorvil {

// The text in single quotes, as a shell reads it back unchanged.
std::string Q(const std::string& s);

// Runs a shell command; its standard output, and its exit code in `code`.
std::string Capture(const std::string& command, int* code = nullptr);

inline const std::string kStereo = "aevalsrc=0.5*sin(440*2*PI*t)|0.5*sin(1000*2*PI*t)";

// An AVI with MJPEG video and the given audio, two seconds long.
void MakeAvi(const std::string& path, const std::string& audioSource, const std::string& audioCodec);

// What ffprobe says of the entries, as comma-separated values.
std::string Probe(const std::string& path, const std::string& entries);

// The stream's packets as ffmpeg's framemd5 sees them in a stream copy, without the header
// (which names the library that wrote the file).
std::string PacketHashes(const std::string& path, const std::string& stream);

// The audio stream's raw sample bytes, as stored.
std::string RawAudio(const std::string& path);

// One channel of interleaved samples.
std::string Channel(const std::string& raw, int channels, int bytesPerSample, int channel);

// The main frequency of a WAV file's 16-bit samples, from its zero crossings.
double Frequency(const std::string& wav);

// Bytes of a file changed in place, as damage or an unusual muxer would leave them.
void Patch(const std::string& path, const std::function<void(std::string&)>& change);

// The little-endian 32-bit number at `at`.
std::uint32_t Le32(const std::string& bytes, std::size_t at);

// The format tag of a WAV file's header and, for an extensible one, that of its sub-format.
std::pair<int, int> FormatTags(const std::string& path);

// A folder holding copies of quorvil-split, vdub and sox: each finds its tools by its own path.
class ConversionTest : public ::testing::Test {
protected:
    ConversionTest();

    int Split(const std::string& arguments);

    // Nothing but the sources and the outputs is left behind.
    void ExpectNoLeftovers(const std::filesystem::path& where = {});

    test::TempDir app;
    test::TempDir clips;
    std::string output;
};

} // namespace quorvil
