#pragma once

// Reading and writing every byte of a buffer, the one loop for it on each platform.
#include <cstddef>
#include <cstdint>

namespace quorvil {

// An open file: a file descriptor on POSIX, a HANDLE on Windows.
using NativeFile = std::intptr_t;

// How far a loop got: the bytes moved, and the system's error that stopped it (errno on POSIX,
// GetLastError() on Windows), 0 when none did.
struct Transfer {
    std::size_t done = 0;
    int error = 0;
};

// Reads until `bytes` are in or the file ends, going on after short reads and interrupting signals.
[[nodiscard]] Transfer ReadAll(NativeFile file, void* data, std::size_t bytes);

// Writes every byte, going on after short writes and interrupting signals; a write that takes
// nothing, which would otherwise be asked again for ever, fails as a full disk.
[[nodiscard]] Transfer WriteAll(NativeFile file, const void* data, std::size_t bytes);

} // namespace quorvil
