#include "read_write_all.h"

#include <cerrno>

#include <unistd.h>

namespace quorvil {

namespace {

// Calls `step` (read or write at an offset into the buffer) until `bytes` are moved; a step that
// moves nothing ends the loop with `nothingMoved`.
template <class Step> Transfer Loop(std::size_t bytes, int nothingMoved, Step step)
{
    Transfer transfer;
    while (transfer.done < bytes) {
        const ssize_t n = step(transfer.done, bytes - transfer.done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            transfer.error = n < 0 ? errno : nothingMoved;
            break;
        }
        transfer.done += static_cast<std::size_t>(n);
    }
    return transfer;
}

} // namespace

Transfer ReadAll(NativeFile file, void* data, std::size_t bytes)
{
    auto* at = static_cast<char*>(data);
    return Loop(bytes, 0,
                [&](std::size_t done, std::size_t piece) { return ::read(static_cast<int>(file), at + done, piece); });
}

Transfer WriteAll(NativeFile file, const void* data, std::size_t bytes)
{
    const auto* at = static_cast<const char*>(data);
    return Loop(bytes, ENOSPC,
                [&](std::size_t done, std::size_t piece) { return ::write(static_cast<int>(file), at + done, piece); });
}

} // namespace quorvil
