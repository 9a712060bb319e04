#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "file_system.h"
#include "read_ahead.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace vdub {

// An AVI opened by FFmpeg over `file`, which must outlive it. In file order, its data is read as it
// stands, not through its index: the idx1 chunk reads as JUNK, so a damaged index cannot make the
// reader skip or repeat what the file holds. Otherwise FFmpeg reads the file's index as usual.
class SourceReader {
public:
    // `flags` are added to the AVFormatContext's (AVFMT_FLAG_...).
    SourceReader(const InputFile& file, const std::string& path, bool inFileOrder, int flags = 0);
    ~SourceReader();
    SourceReader(const SourceReader&) = delete;
    SourceReader& operator=(const SourceReader&) = delete;

    [[nodiscard]] AVFormatContext* get() const { return context_; }

private:
    const InputFile& file_;
    std::unique_ptr<ReadAhead> ahead_; // for a reader of the whole file in file order
    std::int64_t position_ = 0;
    std::int64_t hiddenIndex_ = -1; // where the tag "idx1" stands, or -1
    AVIOContext* io_ = nullptr;
    AVFormatContext* context_ = nullptr;

    void Close();
    static int Read(void* opaque, std::uint8_t* buffer, int size);
    static std::int64_t Seek(void* opaque, std::int64_t offset, int whence);
};

// What the file's own index says of one stream: its non-empty entries and their bytes, and whether
// it lists them in the order they lie in the file. Where it does not, FFmpeg reads a file it takes
// for not interleaved in the index's order, and a reading in file order differs from it.
struct IndexFacts {
    std::int64_t entries = 0;
    std::int64_t bytes = 0;
    bool inFileOrder = true;
};

// The index of every stream, read with the file's index as FFmpeg reads it (no data is read).
// Empty when the file has no index.
[[nodiscard]] std::vector<IndexFacts> ReadIndex(const InputFile& file, const std::string& path);

// What a stream header (strh) states of its stream's length: dwLength, in samples of dwSampleSize
// bytes where that is not 0, else in chunks (video frames).
struct StreamLength {
    bool known = false; // the header was long enough to hold both
    std::uint32_t length = 0;
    std::uint32_t sampleSize = 0;
};

// The stream headers in the order FFmpeg numbers the streams (AVStream::id): every strh within the
// hdrl list, in any list and after any other chunk, but "pads", which FFmpeg skips.
[[nodiscard]] std::vector<StreamLength> ReadStreamLengths(const InputFile& file);

} // namespace vdub
