#include "file_io.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include <windows.h>

#include "channel_copy.h"
#include "new_file.h"
#include "quoted.h"
#include "read_write_all.h"
#include "system_text_win32.h"
#include "wide_text_win32.h"

namespace sox {

namespace {

using quorvil::FilePath;
using quorvil::Quoted;
using quorvil::SystemReason;

class HandleFile : public File {
public:
    // Closes the handle at the end when it owns it; tells `output` of its writes.
    HandleFile(HANDLE handle, bool owns, tool::NewFile* output = nullptr)
        : handle_(handle), owns_(owns), output_(output)
    {
    }
    ~HandleFile() override
    {
        if (owns_)
            CloseHandle(handle_);
    }

    std::int64_t Size() override
    {
        LARGE_INTEGER size;
        return GetFileSizeEx(handle_, &size) ? size.QuadPart : Failed();
    }

    std::int64_t Seek(std::int64_t offset, int whence) override
    {
        const DWORD method = whence == SEEK_SET ? FILE_BEGIN : whence == SEEK_CUR ? FILE_CURRENT : FILE_END;
        LARGE_INTEGER distance;
        LARGE_INTEGER position;
        distance.QuadPart = offset;
        return SetFilePointerEx(handle_, distance, &position, method) ? position.QuadPart : Failed();
    }

    std::int64_t Read(void* data, std::int64_t bytes) override
    {
        return Moved(quorvil::ReadAll(reinterpret_cast<quorvil::NativeFile>(handle_), data, Count(bytes)));
    }

    std::int64_t Write(const void* data, std::int64_t bytes) override
    {
        if (output_)
            output_->WillWrite(bytes);
        return Moved(quorvil::WriteAll(reinterpret_cast<quorvil::NativeFile>(handle_), data, Count(bytes)));
    }

private:
    static std::size_t Count(std::int64_t bytes) { return static_cast<std::size_t>(std::max<std::int64_t>(bytes, 0)); }

    std::int64_t Moved(const quorvil::Transfer& transfer)
    {
        return transfer.error == 0 ? static_cast<std::int64_t>(transfer.done)
                                   : Failed(static_cast<DWORD>(transfer.error));
    }

    std::int64_t Failed(DWORD error = GetLastError())
    {
        lastError_ = SystemReason(error);
        return -1;
    }

    HANDLE handle_;
    bool owns_;
    tool::NewFile* output_;
};

} // namespace

std::unique_ptr<File> OpenInput(const std::string& name)
{
    const HANDLE handle = CreateFileW(FilePath(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        throw Failure("cannot read " + Quoted(name) + ": " + SystemReason(GetLastError()));
    auto file = std::make_unique<HandleFile>(handle, true);
    if (GetFileType(handle) != FILE_TYPE_DISK)
        throw Failure("cannot read " + Quoted(name) + ": it is not a regular file");
    return file;
}

std::unique_ptr<File> FileOf(tool::NewFile& file)
{
    return std::make_unique<HandleFile>(reinterpret_cast<HANDLE>(file.handle()), false, &file);
}

void* AllocateChunkMemory(std::size_t bytes)
{
    return ::operator new(bytes);
}

void FreeChunkMemory(void* memory, std::size_t) noexcept
{
    ::operator delete(memory);
}

} // namespace sox
