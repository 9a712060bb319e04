#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "file_system.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace vdub {

// The source opened for reading its data in file order, not through its index: an AVI's idx1
// chunk reads as JUNK, so a damaged index cannot make the reader skip or repeat what the file holds.
class SourceReader {
public:
    explicit SourceReader(const std::string& path);
    ~SourceReader();
    SourceReader(const SourceReader&) = delete;
    SourceReader& operator=(const SourceReader&) = delete;

    [[nodiscard]] AVFormatContext* get() const { return context_; }

private:
    InputFile file_;
    std::int64_t position_ = 0;
    std::int64_t hiddenIndex_ = -1; // where the tag "idx1" stands, or -1
    AVIOContext* io_ = nullptr;
    AVFormatContext* context_ = nullptr;

    void Close();
    static int Read(void* opaque, std::uint8_t* buffer, int size);
    static std::int64_t Seek(void* opaque, std::int64_t offset, int whence);
};

// What the file's own index says of one stream: its non-empty entries and their bytes.
struct IndexFacts {
    std::int64_t entries = 0;
    std::int64_t bytes = 0;
};

// The index of every stream, read with the file's index as FFmpeg reads it (no data is read).
// Empty when the file has no index.
[[nodiscard]] std::vector<IndexFacts> ReadIndex(const std::string& path);

} // namespace vdub
