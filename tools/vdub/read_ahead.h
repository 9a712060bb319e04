#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "file_system.h"

namespace vdub {

// Reads a file front to back on a thread of its own, a few blocks ahead of the reader, so that the
// copying out of the page cache runs beside the demuxing and writing rather than before them. A
// read where the last one did not end moves the read-ahead there and waits for it.
class ReadAhead {
public:
    explicit ReadAhead(const InputFile& file);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // As InputFile::ReadAt, but it may give fewer bytes than asked before the end: bytes read into
    // buffer, 0 at the end, or an AVERROR code.
    [[nodiscard]] long ReadAt(void* buffer, std::size_t size, std::int64_t offset);

private:
    struct Block {
        std::int64_t offset = 0;
        long got = 0; // bytes, 0 at the end, or an AVERROR code
        std::size_t taken = 0;
        std::unique_ptr<std::uint8_t[]> data;
    };

    const InputFile& file_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Block> ready_;         // blocks read ahead, in file order
    std::vector<std::unique_ptr<std::uint8_t[]>> spare_; // buffers of blocks used up, for reuse
    std::int64_t fetchAt_ = 0;        // where the thread reads next
    std::uint64_t aim_ = 0;           // counts the moves: a block read for an earlier one is dropped
    bool fetching_ = true;            // false after the end or a failure, until the next move
    bool stop_ = false;
    std::thread thread_;              // last: it starts when everything else is set

    void Run();
    void MoveTo(std::int64_t offset);
};

} // namespace vdub
