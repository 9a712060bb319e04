#include "entry_record.h"

#include <cstdlib>
#include <memory>

#include <windows.h>

#include "folder_stamp_win32.h"
#include "handles_win32.h"
#include "wide_text_win32.h"

namespace quorvil {

namespace {

// Records hold a few paths; anything larger is not one of ours.
constexpr DWORD kLargestRecord = 1 << 20;

// A record or lock file itself, for reading, a link in its place not followed; null when it cannot
// be opened (GetLastError says why).
UniqueHandle OpenRecordFile(const std::string& path)
{
    const HANDLE file =
        CreateFileW(FilePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return UniqueHandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

} // namespace

namespace record_host {

void SetToolEnvironment(const char* name, const std::string& value)
{
    // The process's environment, which every tool started from now on inherits.
    (void)SetEnvironmentVariableW(FromUtf8(name).c_str(), value.empty() ? nullptr : FromUtf8(value).c_str());
}

std::string StateFolder()
{
    // In UTF-16: under a profile folder the code page cannot name, the 8-bit environment holds a look-alike.
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    return local && *local ? Utf8(local) + "\\Quorvil\\" : std::string();
}

bool MakeFolder(const std::string& path)
{
    if (!CreateDirectoryW(FilePath(path).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    const DWORD attributes = GetFileAttributesW(FilePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Private(const std::string&)
{
    // The user's profile folder is the user's by its access list; a folder reached through a link
    // or junction is not.
    return true;
}

std::vector<std::string> NamesIn(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(FilePath(folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (found.cFileName[0] != L'.' && !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(Utf8(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

std::optional<std::string> ReadRecord(const std::string& path)
{
    const UniqueHandle file(OpenRecordFile(path));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) ||
        info.nFileSizeHigh != 0 || info.nFileSizeLow > kLargestRecord)
        return std::nullopt;
    std::string bytes(info.nFileSizeLow, '\0');
    DWORD got = 0;
    if (!::ReadFile(file.get(), bytes.data(), info.nFileSizeLow, &got, nullptr))
        return std::nullopt;
    bytes.resize(got);
    return bytes;
}

bool WriteDurably(const std::string& path, const std::string& bytes)
{
    const HANDLE raw =
        CreateFileW(FilePath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (raw == INVALID_HANDLE_VALUE)
        return false;
    const UniqueHandle file(raw);
    DWORD written = 0;
    // On disk before it replaces the old record: after a power loss the record is whole.
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size() && FlushFileBuffers(file.get());
}

bool Replace(const std::string& from, const std::string& to)
{
    return MoveFileExW(FilePath(from).c_str(), FilePath(to).c_str(),
                       MOVEFILE_WRITE_THROUGH | MOVEFILE_REPLACE_EXISTING);
}

// MoveFileEx's write-through puts a record's new name on disk.
void FlushFolder(const std::string&) {}

void RemoveFolderIfSame(const std::string& path, const FolderStamp& stamp)
{
    // Checked and removed through one handle; the system removes only an empty folder.
    // A folder recorded before it was made has no stamp: whatever folder is at its name is the one made.
    const UniqueHandle folder = OpenFolder(path, DELETE | FILE_READ_ATTRIBUTES);
    if (!folder || (stamp.exists && !IsStampedFolder(StampOfOpen(folder.get()), stamp)))
        return;
    FILE_DISPOSITION_INFO disposition{TRUE};
    (void)SetFileInformationByHandle(folder.get(), FileDispositionInfo, &disposition, sizeof disposition);
}

std::intptr_t TakeOwnerLock(const std::string& path)
{
    // Shared with nobody from its making, so that no run opens it while its owner lives; the system
    // removes it when the last handle, ours, closes, whatever ends the process.
    const HANDLE file = CreateFileW(FilePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    return file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(file);
}

void LetGoOwnerLock(std::intptr_t handle, const std::string&)
{
    CloseHandle(reinterpret_cast<HANDLE>(handle));
}

LockState OwnerLockState(const std::string& path)
{
    const UniqueHandle file(OpenRecordFile(path));
    if (file)
        return LockState::free; // left by a machine that stopped: nobody holds it
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? LockState::gone : LockState::held;
}

} // namespace record_host

} // namespace quorvil
