#include "file_ops.h"

#include <memory>

#include <windows.h>

#include "errors.h"

namespace quorvil {

namespace {

bool IsAnsiLeadByte(unsigned char c)
{
    return IsDBCSLeadByte(c) != 0;
}

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

struct LocalFreer {
    void operator()(char* text) const { LocalFree(text); }
};

// The system's text for an error code.
std::string SystemText(DWORD code)
{
    char* buffer = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    const std::unique_ptr<char, LocalFreer> owned(buffer);
    if (length == 0 || !buffer)
        return "System error " + std::to_string(code);
    return std::string(buffer, length);
}

} // namespace

PathRules HostPathRules()
{
    return {PathStyle::windows, IsAnsiLeadByte};
}

std::string ProgramDirectory()
{
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            throw Error("Cannot find the program's own directory: " + SystemText(GetLastError()));
        if (n < buffer.size()) {
            buffer.resize(n);
            return DirectoryPart(buffer, HostPathRules());
        }
        buffer.resize(buffer.size() * 2); // cut off: try again with more room
    }
}

std::string FullPath(const std::string& path)
{
    const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        throw Error(IoErrorMessage(static_cast<int>(GetLastError())));
    std::string full(needed, '\0');
    const DWORD n = GetFullPathNameA(path.c_str(), needed, full.data(), nullptr);
    if (n == 0 || n >= needed)
        throw Error(IoErrorMessage(static_cast<int>(GetLastError())));
    full.resize(n);
    return full;
}

void CreateDirectoryLevel(const std::string& path)
{
    if (!CreateDirectoryA(path.c_str(), nullptr))
        throw Error(IoErrorMessage(static_cast<int>(GetLastError())));
}

void WriteScriptFile(const std::string& path, const std::vector<std::string>& lines)
{
    std::string bytes;
    for (const auto& line : lines)
        bytes += line + "\r\n";

    // No sharing while it is written; an earlier file of that name is replaced.
    UniqueHandle file(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        (void)file.release();
        throw Error(CannotCreateFileMessage(path, SystemText(GetLastError())));
    }
    DWORD written = 0;
    const bool complete = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                          written == bytes.size();
    const bool closed = CloseHandle(file.release()) != 0;
    if (!complete || !closed) {
        DeleteFileA(path.c_str());
        throw Error(kStreamWriteError);
    }
}

void DeleteFileQuietly(const std::string& path)
{
    (void)DeleteFileA(path.c_str());
}

bool FileHasContent(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info))
        return false;
    return !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && (info.nFileSizeHigh != 0 || info.nFileSizeLow != 0);
}

} // namespace quorvil
