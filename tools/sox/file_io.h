#pragma once

// The files our sox reads and writes, through the system's own calls; libsndfile reaches them
// through its virtual I/O. So names reach the system exactly as given (on Windows in the system
// code page, where libsndfile's own sf_open would take them for UTF-8), and the output can be made
// to vanish whenever the tool fails.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace tool {
class NewFile;
} // namespace tool

namespace sox {

class File {
public:
    virtual ~File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Each returns -1 on failure, with the system's words for it in LastError().
    [[nodiscard]] virtual std::int64_t Size() = 0;
    // whence is SEEK_SET, SEEK_CUR or SEEK_END; the new position.
    virtual std::int64_t Seek(std::int64_t offset, int whence) = 0;
    // Fewer bytes than asked only at the end of the file.
    virtual std::int64_t Read(void* data, std::int64_t bytes) = 0;
    // All bytes, or -1.
    virtual std::int64_t Write(const void* data, std::int64_t bytes) = 0;

    [[nodiscard]] const std::string& LastError() const { return lastError_; }

protected:
    File() = default;
    std::string lastError_;
};

// A new file for its target (a tool::NewFile: ours alone, nameless or under a temporary name
// beside the target), that is gone again unless Commit() puts it in the target's place: on any
// failure, and also when the tool is ended from outside.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Open for reading as well, so that what was written can be checked.
    [[nodiscard]] virtual File& file() = 0;
    // Puts the file in the target's place, replacing what was there, or throws Failure; the file is
    // not used afterwards.
    virtual void Commit() = 0;

protected:
    OutputFile() = default;
};

// Throw Failure ("cannot read/write "NAME": the system's words") when the file cannot be opened.
[[nodiscard]] std::unique_ptr<File> OpenInput(const std::string& name);
[[nodiscard]] std::unique_ptr<OutputFile> CreateOutput(const std::string& target);

// The platform's File over a new file's open handle, which stays the NewFile's; each write is
// announced to it first (NewFile::WillWrite). What CreateOutput writes through.
[[nodiscard]] std::unique_ptr<File> FileOf(tool::NewFile& file);

// Memory for the chunks, its pages there from the start: on Linux made present in one call, where
// the first reads would fault them in one by one, and not zeroed twice. Throws std::bad_alloc.
[[nodiscard]] void* AllocateChunkMemory(std::size_t bytes);
void FreeChunkMemory(void* memory, std::size_t bytes) noexcept;

template <class T> struct ChunkAllocator {
    using value_type = T;
    ChunkAllocator() = default;
    template <class U> explicit ChunkAllocator(const ChunkAllocator<U>&) noexcept {}
    [[nodiscard]] T* allocate(std::size_t n) { return static_cast<T*>(AllocateChunkMemory(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) noexcept { FreeChunkMemory(p, n * sizeof(T)); }
    // Left as the system hands it over: a chunk is filled before it is read.
    template <class U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
    bool operator==(const ChunkAllocator&) const noexcept { return true; }
};

using ChunkBuffer = std::vector<unsigned char, ChunkAllocator<unsigned char>>;

} // namespace sox
