#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What vdub needs of the file system, in the names the system gives (on Windows in UTF-8, read from
// the UTF-16 command line and from the script).
namespace vdub {

// A regular file opened for reading at any offset, opened so that it cannot block (a FIFO at the
// name is refused, never waited on). Throws Failure naming the file when it cannot be opened.
class InputFile {
public:
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    [[nodiscard]] std::int64_t Size() const { return size_; }
    // Bytes read into buffer, 0 at the end, or an AVERROR code.
    [[nodiscard]] long ReadAt(void* buffer, std::size_t size, std::int64_t offset) const;

private:
    std::intptr_t handle_ = -1;
    std::int64_t size_ = 0;
};

// The script's text, its paths as the other calls here take them: on POSIX its bytes; on Windows
// UTF-8 when it begins with a byte-order mark (without the mark), else the system's code page, as
// VirtualDub reads a script. Throws Failure when it cannot be read.
[[nodiscard]] std::string ReadScript(const std::string& path);

// On a file vdub created (tool::NewFile::handle()): writes all bytes at its position, 0 or an
// AVERROR code; moves its position (SEEK_SET, SEEK_CUR, SEEK_END), the new one or an AVERROR code.
[[nodiscard]] int WriteAll(std::intptr_t handle, const void* data, std::size_t size);
[[nodiscard]] std::int64_t SeekFile(std::intptr_t handle, std::int64_t offset, int whence);

} // namespace vdub
