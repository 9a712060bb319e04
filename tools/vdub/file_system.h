#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What vdub needs of the file system, in the names the system gives (on Windows the system code
// page, as in the script and on the command line).
namespace vdub {

// A file opened for reading at any offset. Throws Failure naming the file when it cannot be opened.
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

// The URL under which libavformat's file protocol opens the file. The "file:" prefix keeps a name
// such as "a:b.avi" or "pipe:x" from being read as another protocol.
[[nodiscard]] std::string FileUrl(const std::string& path);

// The directory part of a path, with its last separator; empty for a bare name.
[[nodiscard]] std::string DirectoryPart(const std::string& path);

[[nodiscard]] long ProcessId();

// Gives `from` the name `to`, replacing a file of that name.
[[nodiscard]] bool MoveIntoPlace(const std::string& from, const std::string& to);

// Removes a file; safe to call from a signal handler.
void RemoveFile(const char* path);

// Calls `handler` on the signals that end a tool from outside (on Windows only Ctrl+C), so that
// it can remove its temporary files first.
void HandleEndingSignals(void (*handler)(int));

} // namespace vdub
