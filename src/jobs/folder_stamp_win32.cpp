#include "folder_stamp_win32.h"

#include "wide_text_win32.h"

namespace quorvil {

UniqueHandle OpenFolder(const std::string& path, DWORD access)
{
    const HANDLE folder =
        CreateFileW(FilePath(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return UniqueHandle(folder == INVALID_HANDLE_VALUE ? nullptr : folder);
}

FolderStamp StampOfOpen(HANDLE folder)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(folder, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return {};
    // An NTFS file number holds a sequence number of its own, so a number given anew differs; the
    // creation time is not used, as not every file system keeps it apart from the change time.
    return {true, info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow, 0, 0};
}

FolderStamp FolderStampAt(const std::string& path)
{
    const UniqueHandle folder = OpenFolder(path, 0);
    return folder ? StampOfOpen(folder.get()) : FolderStamp{};
}

} // namespace quorvil
