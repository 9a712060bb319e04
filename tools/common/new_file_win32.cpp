#include "new_file.h"

#include <csignal>
#include <cstdlib>

#include <windows.h>

#include "output_record.h"
#include "system_text_win32.h"
#include "wide_text_win32.h"

namespace tool {

namespace {

using quorvil::FilePath;
using quorvil::FromUtf8;
using quorvil::kOutputRecordVariable;
using quorvil::kRecordHeader;
using quorvil::Quoted;
using quorvil::RecordLine;
using quorvil::SystemReason;
using quorvil::ToolRecordName;
using quorvil::Utf8;

HANDLE Handle(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

// Marks an open file to be deleted when its last handle closes, or takes the mark back.
bool MarkForDeletion(HANDLE file, bool remove)
{
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

extern "C" void ExitOnSignal(int signal)
{
    std::_Exit(128 + signal); // the system deletes the files still marked
}

std::string DirectoryOf(const std::string& path)
{
    const auto separator = path.find_last_of("\\/:");
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// The record Quorvil asked for (output_record.h), or empty when the tool runs alone.
std::string OutputRecordPath()
{
    // In UTF-16, as Quorvil set it: the 8-bit environment has a look-alike of a folder the code page cannot name.
    const wchar_t* prefix = _wgetenv(FromUtf8(kOutputRecordVariable).c_str());
    if (!prefix || !*prefix)
        return {};
    return ToolRecordName(Utf8(prefix), GetCurrentProcessId());
}

} // namespace

NewFile::Identity NewFile::TargetIdentity() const
{
    const HANDLE file =
        CreateFileW(FilePath(target_).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    BY_HANDLE_FILE_INFORMATION info;
    const bool told = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    if (!told)
        return {true};
    return {true, info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow,
            static_cast<std::int64_t>((std::uint64_t{info.ftCreationTime.dwHighDateTime} << 32) |
                                      info.ftCreationTime.dwLowDateTime),
            0};
}

NewFile::NewFile(std::string target, const char* prefix, const char* suffix)
    : target_(std::move(target)), prefix_(prefix), suffix_(suffix)
{
    Create();
}

void NewFile::Create()
{
    // Run by Quorvil, nothing at the name is ours to replace: what stood there was moved aside.
    before_ = OutputRecordPath().empty() ? TargetIdentity() : Identity{};
    // CREATE_NEW fails on any file or link at the name. Names of our own process id cannot be
    // another running tool's; a leftover of an earlier process with our id (a file, or one being
    // deleted: access denied) is left alone and the next number tried.
    for (unsigned attempt = 0;; ++attempt) {
        const std::string name = TemporaryName(attempt);
        const HANDLE file = CreateFileW(FilePath(name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            handle_ = reinterpret_cast<std::intptr_t>(file);
            temporary_ = name;
            // The system removes it when the process ends, however it ends, unless Commit() comes first.
            MarkForDeletion(file, true);
            return;
        }
        const DWORD error = GetLastError();
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ACCESS_DENIED) || attempt == 100)
            throw FileFailure("cannot write " + Quoted(target_) + ": " + SystemReason(error));
    }
}

std::string NewFile::TemporaryName(unsigned attempt) const
{
    return DirectoryOf(target_) + prefix_ + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt) +
           suffix_;
}

NewFile::~NewFile()
{
    Close();
    if (!committed_)
        DeleteFileW(FilePath(temporary_).c_str()); // where the mark could not be set, or was taken back
}

void NewFile::Close()
{
    if (handle_ != -1)
        CloseHandle(Handle(handle_));
    handle_ = -1;
}

// Reserving ahead is a Linux file-system measure; NTFS is left to allocate as it does.
void NewFile::WillWrite(std::int64_t) {}

void NewFile::Commit()
{
    RecordBeforeNaming();
    // A file marked for deletion cannot be renamed, nor a file open without shared delete access.
    if (!MarkForDeletion(Handle(handle_), false))
        throw FileFailure("cannot write " + Quoted(target_) + ": " + SystemReason(GetLastError()));
    Close();
    // Without the replace flag a name taken meanwhile is refused; with it, only the file found there.
    if (before_.exists && TargetIdentity() != before_)
        throw NameTaken();
    if (!MoveFileExW(FilePath(temporary_).c_str(), FilePath(target_).c_str(),
                     before_.exists ? MOVEFILE_REPLACE_EXISTING : 0)) {
        const DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
            throw NameTaken();
        throw FileFailure("cannot write " + Quoted(target_) + ": " + SystemReason(error));
    }
    committed_ = true;
}

void NewFile::RecordBeforeNaming() const
{
    const std::string record = OutputRecordPath();
    BY_HANDLE_FILE_INFORMATION info;
    if (record.empty() || !GetFileInformationByHandle(Handle(handle_), &info))
        return;
    const HANDLE file = CreateFileW(FilePath(record).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return; // Quorvil then learns of the file once the tool has ended, as without a record
    LARGE_INTEGER size{};
    const bool fresh = GetFileSizeEx(file, &size) && size.QuadPart == 0;
    // No birth time: the stamps Quorvil compares it with on Windows carry none.
    const std::string line =
        std::string(fresh ? kRecordHeader : "") +
        RecordLine(info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow,
                   (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow,
                   static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                             info.ftLastWriteTime.dwLowDateTime),
                   0, target_);
    DWORD written = 0;
    // On disk before the name is: a power loss that keeps the name keeps the line that names it.
    if (WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr))
        (void)FlushFileBuffers(file);
    CloseHandle(file);
}

void StartOutputRecord()
{
    const std::string record = OutputRecordPath();
    if (record.empty())
        return;
    const HANDLE file = CreateFileW(FilePath(record).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    (void)WriteFile(file, kRecordHeader, sizeof kRecordHeader - 1, &written, nullptr);
    CloseHandle(file);
}

void NewFile::Withdraw()
{
    if (committed_)
        DeleteFileW(FilePath(target_).c_str());
}

void EndCleanlyWithParent()
{
    // Quorvil's job object ends a tool with it; Ctrl+C ends it here.
    for (int signal : {SIGINT, SIGTERM})
        std::signal(signal, ExitOnSignal);
}

} // namespace tool
