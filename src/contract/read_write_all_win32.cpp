#include "read_write_all.h"

#include <algorithm>

#include <windows.h>

namespace quorvil {

namespace {

// Calls `step` (ReadFile or WriteFile at an offset into the buffer) until `bytes` are moved, in
// pieces a DWORD counts; a step that moves nothing ends the loop with `nothingMoved`.
template <class Step> Transfer Loop(std::size_t bytes, DWORD nothingMoved, Step step)
{
    Transfer transfer;
    while (transfer.done < bytes) {
        const auto piece = static_cast<DWORD>(std::min<std::size_t>(bytes - transfer.done, std::size_t{1} << 30));
        DWORD n = 0;
        if (!step(transfer.done, piece, &n)) {
            transfer.error = static_cast<int>(GetLastError());
            break;
        }
        if (n == 0) {
            transfer.error = static_cast<int>(nothingMoved);
            break;
        }
        transfer.done += n;
    }
    return transfer;
}

HANDLE HandleOf(NativeFile file)
{
    return reinterpret_cast<HANDLE>(file);
}

} // namespace

Transfer ReadAll(NativeFile file, void* data, std::size_t bytes)
{
    auto* at = static_cast<char*>(data);
    return Loop(bytes, 0, [&](std::size_t done, DWORD piece, DWORD* n) {
        return ReadFile(HandleOf(file), at + done, piece, n, nullptr);
    });
}

Transfer WriteAll(NativeFile file, const void* data, std::size_t bytes)
{
    const auto* at = static_cast<const char*>(data);
    return Loop(bytes, ERROR_DISK_FULL, [&](std::size_t done, DWORD piece, DWORD* n) {
        return WriteFile(HandleOf(file), at + done, piece, n, nullptr);
    });
}

} // namespace quorvil
