#include "file_system.h"

#include <csignal>
#include <vector>

#include <windows.h>

extern "C" {
#include <libavutil/error.h>
}

#include "script.h"

namespace vdub {

namespace {

HANDLE Handle(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

std::string SystemText(DWORD code)
{
    char* text = nullptr;
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = n ? std::string(text, n) : "error " + std::to_string(code);
    LocalFree(text);
    while (!result.empty() &&
           (result.back() == '\n' || result.back() == '\r' || result.back() == ' ' || result.back() == '.'))
        result.pop_back();
    return result;
}

} // namespace

InputFile::InputFile(const std::string& path)
{
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size{};
    if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size)) {
        const std::string why = SystemText(GetLastError());
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        throw Failure("cannot open \"" + path + "\": " + why);
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

// libavformat opens files by UTF-8 names on Windows; ours come in the system code page.
std::string FileUrl(const std::string& path)
{
    const int wide = MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    std::vector<wchar_t> text(static_cast<std::size_t>(wide));
    MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), text.data(), wide);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, utf8.data(), bytes, nullptr, nullptr);
    return "file:" + utf8;
}

std::string DirectoryPart(const std::string& path)
{
    const auto separator = path.find_last_of("\\/:");
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

long ProcessId()
{
    return static_cast<long>(GetCurrentProcessId());
}

bool MoveIntoPlace(const std::string& from, const std::string& to)
{
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void RemoveFile(const char* path)
{
    DeleteFileA(path);
}

void HandleEndingSignals(void (*handler)(int))
{
    for (int signal : {SIGINT, SIGTERM})
        std::signal(signal, handler);
}

} // namespace vdub
