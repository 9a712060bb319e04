#include "file_system.h"

#include <algorithm>
#include <cstdio>

#include <windows.h>

extern "C" {
#include <libavutil/error.h>
}

#include "script.h"
#include "system_text_win32.h"

namespace vdub {

namespace {

using quorvil::SystemReason;

HANDLE Handle(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

InputFile::InputFile(const std::string& path)
{
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size{};
    if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size)) {
        const std::string why = SystemReason(GetLastError());
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        throw Failure("cannot open \"" + path + "\": " + why);
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        throw Failure("cannot open \"" + path + "\": it is not a regular file");
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    size_ = size.QuadPart;
}

InputFile::~InputFile()
{
    CloseHandle(Handle(handle_));
}

long InputFile::ReadAt(void* buffer, std::size_t size, std::int64_t offset) const
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD n = 0;
    if (!ReadFile(Handle(handle_), buffer, static_cast<DWORD>(size), &n, &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : AVERROR(EIO);
    return static_cast<long>(n);
}

namespace {

int WriteError(DWORD code)
{
    return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL ? AVERROR(ENOSPC) : AVERROR(EIO);
}

} // namespace

int WriteAll(std::intptr_t handle, const void* data, std::size_t size)
{
    const auto* at = static_cast<const char*>(data);
    while (size > 0) {
        DWORD n = 0;
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        if (!WriteFile(Handle(handle), at, piece, &n, nullptr))
            return WriteError(GetLastError());
        at += n;
        size -= n;
    }
    return 0;
}

std::int64_t SeekFile(std::intptr_t handle, std::int64_t offset, int whence)
{
    const DWORD method = whence == SEEK_SET ? FILE_BEGIN : whence == SEEK_CUR ? FILE_CURRENT : FILE_END;
    LARGE_INTEGER distance;
    LARGE_INTEGER position;
    distance.QuadPart = offset;
    return SetFilePointerEx(Handle(handle), distance, &position, method) ? position.QuadPart : AVERROR(EIO);
}

} // namespace vdub
