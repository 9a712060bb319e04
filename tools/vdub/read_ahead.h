#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vdub {

// Reads a file front to back on a thread of its own, a few blocks ahead of the demuxer, so that the
// copying out of the page cache runs beside the demuxing and writing rather than before them. A
// read where the last one did not end moves the read-ahead there and waits for it.
class ReadAhead {
public:
    // Reads at an offset: the bytes read into the buffer, 0 at the end, or a negative code for a
    // failure. Called on the read-ahead's thread alone.
    using ReadAt = std::function<long(void* buffer, std::size_t size, std::int64_t offset)>;

    // Throws std::system_error when no thread can be started.
    explicit ReadAhead(ReadAt read);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // As the file's own ReadAt, but it may give fewer bytes than asked before the end. The end and
    // a failure are given again for as long as they are asked for.
    [[nodiscard]] long Read(void* buffer, std::size_t size, std::int64_t offset);

private:
    struct Block {
        std::int64_t offset = 0;
        long got = 0; // bytes, 0 at the end, or a failure's code
        std::size_t taken = 0;
        std::unique_ptr<std::uint8_t[]> data;
    };

    const ReadAt read_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Block> ready_;                            // blocks read ahead, in file order
    std::vector<std::unique_ptr<std::uint8_t[]>> spare_; // buffers of blocks used up, for reuse
    std::int64_t fetchAt_ = 0;                           // where the thread reads next
    std::uint64_t aim_ = 0;                              // counts the moves: a block read for an earlier one is dropped
    bool fetching_ = true;                               // false after the end or a failure, until the next move
    bool stop_ = false;
    std::thread thread_; // last: it starts when everything else is set

    void Run();
    void MoveTo(std::int64_t offset);
};

} // namespace vdub
