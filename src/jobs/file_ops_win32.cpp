#include "file_ops.h"

#include <memory>
#include <optional>
#include <tuple>

#include <windows.h>

#include "errors.h"
#include "system_text_win32.h"

namespace quorvil {

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// The volume and the file's number on it, through a handle that asks for no access and shares
// everything, so that a file another program is writing can be asked too; a folder opens only
// with backup semantics.
std::optional<std::tuple<DWORD, DWORD, DWORD>> FileIdentity(const std::string& path)
{
    UniqueHandle file(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        (void)file.release();
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.get(), &info))
        return std::nullopt;
    return std::tuple{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

} // namespace

void CreateDirectoryLevel(const std::string& path)
{
    if (!CreateDirectoryA(path.c_str(), nullptr))
        throw Error(IoErrorMessage(static_cast<int>(GetLastError())));
}

void WriteScriptFile(const std::string& path, const std::string& bytes)
{
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

FileStamp StampOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return {};
    // No file number without opening the file: a tool that writes anew changes the time anyway.
    return {true, (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow,
            static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                      info.ftLastWriteTime.dwLowDateTime),
            0};
}

bool SameFile(const std::string& first, const std::string& second)
{
    const auto identity = FileIdentity(first);
    return identity && identity == FileIdentity(second);
}

void RemoveTreeQuietly(const std::string& path)
{
    // By hand: the path is in the ANSI code page, which std::filesystem does not take as it is.
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string child = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTreeQuietly(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

} // namespace quorvil
