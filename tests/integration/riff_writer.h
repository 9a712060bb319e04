#pragma once

// Hand-made AVI headers, for the sources whose streams the stream census must count: any stream
// types, chunks in any order, the format headers of PCM, float and FLAC audio.
#include <cstdint>
#include <string>
#include <vector>

namespace quorvil::test {

// A chunk: its id, its size and its bytes, padded to an even size.
[[nodiscard]] std::string Chunk(const std::string& id, const std::string& body);
// A LIST chunk of the given type holding the chunks.
[[nodiscard]] std::string List(const std::string& type, const std::vector<std::string>& chunks);

// A stream header (strh) of the given type: "vids", "auds", "txts", "dats", ...
[[nodiscard]] std::string StreamHeader(const std::string& type);
// A video format header (strf: BITMAPINFOHEADER) with its compression code.
[[nodiscard]] std::string BitmapFormat(const std::string& compression = "MJPG");
// An audio format header (strf: WAVEFORMATEX) with what follows it (its size is written before it).
[[nodiscard]] std::string WaveFormat(std::uint16_t tag, int bits, const std::string& extra = {});
// WAVE_FORMAT_EXTENSIBLE over the given format tag.
[[nodiscard]] std::string ExtensibleFormat(std::uint16_t tag, int bits);
// A FLAC STREAMINFO block of 44.1 kHz stereo with the given bits per sample, as the codec's extra
// data (raw, or after "fLaC" and the block's header).
[[nodiscard]] std::string FlacStreamInfo(int bits, bool withMarker = false);

// A stream list (strl): the header and the format, in that order unless `chunks` says otherwise.
[[nodiscard]] std::string StreamList(const std::vector<std::string>& chunks);
// A video stream and a 16-bit PCM audio stream, the lists most sources have.
[[nodiscard]] std::string VideoStream();
[[nodiscard]] std::string AudioStream(const std::string& format = {});

// An AVI file: the header list (hdrl: the main header, then `headerChunks`) and an empty movi list.
[[nodiscard]] std::string Avi(const std::vector<std::string>& headerChunks);

} // namespace quorvil::test
