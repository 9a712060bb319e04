#include "file_system.h"

#include <algorithm>
#include <cstdio>

#include <windows.h>

extern "C" {
#include <libavutil/error.h>
}

#include "read_write_all.h"
#include "script.h"
#include "system_text_win32.h"
#include "wide_text_win32.h"

namespace vdub {

namespace {

using quorvil::FilePath;
using quorvil::SystemReason;

HANDLE Handle(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

// Scripts are a few lines; anything larger is not one.
constexpr std::int64_t kLargestScript = 1 << 20;

// Text in the system's code page, in UTF-8.
std::string FromCodePage(const std::string& bytes)
{
    const int length = static_cast<int>(bytes.size());
    const int size = bytes.empty() ? 0 : MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, wide.data(), size);
    return quorvil::Utf8(wide);
}

} // namespace

std::string ReadScript(const std::string& path)
{
    std::string bytes;
    try {
        const InputFile file(path);
        bytes.resize(static_cast<std::size_t>(std::min(file.Size(), kLargestScript)));
        const long got = bytes.empty() ? 0 : file.ReadAt(bytes.data(), bytes.size(), 0);
        if (got < 0)
            throw Failure("");
        bytes.resize(static_cast<std::size_t>(got));
    } catch (const Failure&) {
        throw Failure("cannot read the script \"" + path + "\"");
    }
    // Quorvil writes UTF-8 behind a mark only for a name the code page cannot write.
    static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (bytes.starts_with(kByteOrderMark))
        return bytes.substr(kByteOrderMark.size());
    return FromCodePage(bytes);
}

InputFile::InputFile(const std::string& path)
{
    const HANDLE file = CreateFileW(FilePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
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
    const quorvil::Transfer written = quorvil::WriteAll(handle, data, size);
    return written.done == size ? 0 : WriteError(static_cast<DWORD>(written.error));
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
