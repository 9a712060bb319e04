#include "read_ahead.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace vdub {

namespace {

// Four blocks of 256 KiB: a megabyte ahead keeps the thread busy without holding much memory.
constexpr std::size_t kBlockSize = 256 * 1024;
constexpr std::size_t kBlocksAhead = 4;

} // namespace

ReadAhead::ReadAhead(ReadAt read) : read_(std::move(read)), thread_([this] { Run(); }) {}

ReadAhead::~ReadAhead()
{
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ReadAhead::Run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stop_ || (fetching_ && ready_.size() < kBlocksAhead); });
        if (stop_)
            return;
        const std::int64_t at = fetchAt_;
        const std::uint64_t aim = aim_;
        Block block;
        block.offset = at;
        if (spare_.empty()) {
            block.data = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockSize);
        } else {
            block.data = std::move(spare_.back());
            spare_.pop_back();
        }
        lock.unlock();
        block.got = read_(block.data.get(), kBlockSize, at);
        lock.lock();
        if (aim != aim_) { // moved meanwhile: this block is not wanted
            spare_.push_back(std::move(block.data));
            continue;
        }
        if (block.got > 0)
            fetchAt_ += block.got;
        else
            fetching_ = false;
        ready_.push_back(std::move(block));
        changed_.notify_all();
    }
}

void ReadAhead::MoveTo(std::int64_t offset)
{
    for (Block& block : ready_)
        spare_.push_back(std::move(block.data));
    ready_.clear();
    fetchAt_ = offset;
    ++aim_;
    fetching_ = true;
    changed_.notify_all();
}

long ReadAhead::Read(void* buffer, std::size_t size, std::int64_t offset)
{
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!ready_.empty()) {
            Block& front = ready_.front();
            const std::int64_t at = front.offset + static_cast<std::int64_t>(front.taken);
            if (at == offset) {
                if (front.got <= 0)
                    return front.got; // the end or a failure, as often as it is asked for
                const std::size_t n = std::min(size, static_cast<std::size_t>(front.got) - front.taken);
                std::memcpy(buffer, front.data.get() + front.taken, n);
                front.taken += n;
                if (front.taken == static_cast<std::size_t>(front.got)) {
                    spare_.push_back(std::move(front.data));
                    ready_.pop_front();
                    changed_.notify_all();
                }
                return static_cast<long>(n);
            }
            MoveTo(offset);
        } else if (!(fetching_ && fetchAt_ == offset)) {
            MoveTo(offset);
        }
        changed_.wait(lock, [this] { return !ready_.empty() || stop_; });
    }
}

} // namespace vdub
