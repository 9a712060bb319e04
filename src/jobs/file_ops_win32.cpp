#include "file_ops.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>
#include <tuple>

#include <windows.h>

#include "errors.h"
#include "handles_win32.h"
#include "system_text_win32.h"
#include "wide_text_win32.h"

namespace quorvil {

namespace {

// The volume and the file's number on it, through a handle that asks for no access and shares
// everything, so that a file another program is writing can be asked too; a folder opens only
// with backup semantics.
std::optional<std::tuple<DWORD, DWORD, DWORD>> FileIdentity(const std::string& path)
{
    UniqueHandle file(CreateFileW(FilePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        (void)file.release();
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.get(), &info))
        return std::nullopt;
    return std::tuple{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

FileStamp StampFrom(const BY_HANDLE_FILE_INFORMATION& info)
{
    const bool regular =
        !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
    return {regular, (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow,
            static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                      info.ftLastWriteTime.dwLowDateTime),
            (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow, info.dwVolumeSerialNumber};
}

// A file or folder shared with everyone; null when it cannot be opened (GetLastError says why).
UniqueHandle OpenShared(const std::string& path, DWORD access, DWORD flags)
{
    UniqueHandle handle(CreateFileW(FilePath(path).c_str(), access,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    flags | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (handle.get() == INVALID_HANDLE_VALUE)
        (void)handle.release();
    return handle;
}

// The thing at a name itself, a link or junction not followed.
UniqueHandle OpenName(const std::string& path, DWORD access)
{
    return OpenShared(path, access, FILE_FLAG_OPEN_REPARSE_POINT);
}

bool NotFound(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Marks the open file for deletion, after checking it is the file stamped; it goes when the last
// handle to it closes. Empty when marked; else why not.
std::string DeleteIfSame(HANDLE file, const FileStamp& stamp, KnownBy knownBy)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
        return SystemReason(GetLastError());
    if (!IsStampedFile(StampFrom(info), stamp, knownBy))
        return "the file at its name is no longer the one Quorvil checked";
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition))
        return SystemReason(GetLastError());
    return {};
}

// Whether two handles are to one file.
bool SameOpenFile(HANDLE first, HANDLE second)
{
    BY_HANDLE_FILE_INFORMATION a;
    BY_HANDLE_FILE_INFORMATION b;
    return GetFileInformationByHandle(first, &a) && GetFileInformationByHandle(second, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// Whether a script's name that could not be opened is someone else's: held by a program that shares
// it with no writer, or refused while something is there (a file on its way out, as Windows refuses a
// file marked for deletion; a folder). Refused where nothing is there, the folder is at fault.
bool SomeoneElsesName(const std::string& path, DWORD error)
{
    if (error == ERROR_SHARING_VIOLATION)
        return true;
    if (error != ERROR_ACCESS_DENIED)
        return false;
    return GetFileAttributesW(FilePath(path).c_str()) != INVALID_FILE_ATTRIBUTES || !NotFound(GetLastError());
}

// Writes the script's bytes, replacing an earlier file of that name, shared with readers alone while
// it is written (HeldScript's claim on the name reads). ERROR_SUCCESS, or why the file could not be
// made; throws Error (kStreamWriteError) when it could not be written, after removing it.
DWORD WriteScript(const std::string& path, const std::string& bytes)
{
    UniqueHandle file(CreateFileW(FilePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        (void)file.release();
        return GetLastError();
    }
    DWORD written = 0;
    const bool complete = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                          written == bytes.size();
    const bool closed = CloseHandle(file.release()) != 0;
    if (!complete || !closed) {
        DeleteFileW(FilePath(path).c_str());
        throw Error(kStreamWriteError);
    }
    return ERROR_SUCCESS;
}

// The only place where a lock is taken: one byte far past any end of file, so that the lock keeps
// other runs out but keeps no reader from the file's bytes.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

} // namespace

std::filesystem::path StreamPath(const std::string& path)
{
    return FilePath(path);
}

void CreateDirectoryLevel(const std::string& path)
{
    if (!CreateDirectoryW(FilePath(path).c_str(), nullptr))
        throw Error(IoErrorMessage(static_cast<int>(GetLastError())));
}

void WriteScriptFile(const std::string& path, const std::string& bytes)
{
    if (const DWORD error = WriteScript(path, bytes); error != ERROR_SUCCESS)
        throw Error(CannotCreateFileMessage(path, SystemText(error)));
}

void DeleteFileQuietly(const std::string& path)
{
    (void)DeleteFileW(FilePath(path).c_str());
}

// Runs of Quorvil tell each other that a script's name is taken by a lock on it, held by a handle
// that only reads and shares everything: the script can be written beside it, and a video tool
// opens it as it likes. Once written, a second handle that shares it with readers alone keeps every
// other program from rewriting or deleting it while the tool reads it.
HeldScript::HeldScript(std::string path, const std::string& bytes) : path_(std::move(path))
{
    UniqueHandle claim(CreateFileW(FilePath(path_).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (claim.get() == INVALID_HANDLE_VALUE) {
        (void)claim.release();
        const DWORD error = GetLastError();
        if (!SomeoneElsesName(path_, error))
            throw Error(CannotCreateFileMessage(path_, SystemText(error)));
        busy_ = SystemReason(error);
        return;
    }
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    if (!LockFileEx(claim.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        busy_ = SystemReason(GetLastError());
        return;
    }
    if (const DWORD error = WriteScript(path_, bytes); error != ERROR_SUCCESS) {
        if (error != ERROR_SHARING_VIOLATION) // else a program that knows no claim has it open
            throw Error(CannotCreateFileMessage(path_, SystemText(error)));
        busy_ = SystemReason(error);
        return;
    }
    UniqueHandle wall(CreateFileW(FilePath(path_).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (wall.get() == INVALID_HANDLE_VALUE) {
        (void)wall.release();
        busy_ = SystemReason(GetLastError()); // a program that knows no claim has it open to write
        return;
    }
    // Between the write and the wall, such a program may have written a script of its own there.
    std::string there(bytes.size() + 1, '\0');
    DWORD got = 0;
    if (!SameOpenFile(claim.get(), wall.get()) ||
        !::ReadFile(wall.get(), there.data(), static_cast<DWORD>(there.size()), &got, nullptr) ||
        there.substr(0, got) != bytes) {
        busy_ = "another program wrote there at the same time";
        return;
    }
    claim_ = reinterpret_cast<std::intptr_t>(claim.release());
    wall_ = reinterpret_cast<std::intptr_t>(wall.release());
}

HeldScript::~HeldScript()
{
    if (claim_ == -1)
        return;
    // The wall shares the file with no deleter, not even us; the claim keeps other runs away meanwhile.
    CloseHandle(reinterpret_cast<HANDLE>(wall_));
    const UniqueHandle script = OpenName(path_, DELETE | FILE_READ_ATTRIBUTES);
    if (script && SameOpenFile(reinterpret_cast<HANDLE>(claim_), script.get())) {
        FILE_DISPOSITION_INFO disposition{TRUE};
        (void)SetFileInformationByHandle(script.get(), FileDispositionInfo, &disposition, sizeof disposition);
    }
    CloseHandle(reinterpret_cast<HANDLE>(claim_));
}

FileStamp StampOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(FilePath(path).c_str(), GetFileExInfoStandard, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return {};
    // No file number without opening the file: a tool that writes anew changes the time anyway.
    return {true, (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow,
            static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                      info.ftLastWriteTime.dwLowDateTime),
            0};
}

FileStamp StampAt(const std::string& path)
{
    const UniqueHandle file = OpenName(path, 0);
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || !GetFileInformationByHandle(file.get(), &info))
        return {};
    const FileStamp stamp = StampFrom(info);
    return stamp.exists ? stamp : FileStamp{};
}

NameHolds WhatIsAt(const std::string& path)
{
    const DWORD attributes = GetFileAttributesW(FilePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return NotFound(GetLastError()) ? NameHolds::nothing : NameHolds::somethingElse;
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
        return NameHolds::somethingElse;
    return NameHolds::regularFile;
}

std::string RemoveIfSame(const std::string& path, const FileStamp& stamp, KnownBy knownBy)
{
    // Checked and deleted through one handle: whatever comes to the name meanwhile stays.
    const UniqueHandle file = OpenName(path, DELETE | FILE_READ_ATTRIBUTES);
    if (!file)
        return SystemReason(GetLastError());
    return DeleteIfSame(file.get(), stamp, knownBy);
}

std::string FileAsideOf(const std::string&, const FileStamp&, KnownBy)
{
    return {};
}

std::string NameAside(const std::string& path)
{
    static std::atomic<unsigned> count{0};
    thread_local std::mt19937 random{std::random_device{}()};
    const auto separator = path.find_last_of("\\/:");
    const std::string folder = separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
    char name[64];
    std::snprintf(name, sizeof name, ".quorvil-%lu-%u-%08x", GetCurrentProcessId(), count++,
                  static_cast<unsigned>(random()));
    return folder + name;
}

std::string MoveNoReplace(const std::string& from, const std::string& to)
{
    // Without the replace flag, a name taken is refused.
    return MoveFileExW(FilePath(from).c_str(), FilePath(to).c_str(), 0) ? std::string() : SystemReason(GetLastError());
}

void RemoveFilesStartingWith(const std::string& folder, const std::string& prefix)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(FilePath(folder + prefix + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        // The pattern also matches short names: only the name itself counts.
        const std::string name = Utf8(found.cFileName);
        if (name.starts_with(prefix) &&
            !(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            DeleteFileW(FilePath(folder + name).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

std::string FlushToDisk(const std::vector<std::string>& paths)
{
    for (const std::string& path : paths) {
        const DWORD attributes = GetFileAttributesW(FilePath(path.empty() ? "." : path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        const UniqueHandle file = OpenShared(path, GENERIC_WRITE, FILE_FLAG_OPEN_REPARSE_POINT);
        if (!file || !FlushFileBuffers(file.get()))
            return path + ": " + SystemReason(GetLastError());
    }
    return {};
}

void RemoveEmptyFolder(const std::string& path)
{
    // A junction or folder link in its place is removed as a link, never what it leads to.
    (void)RemoveDirectoryW(FilePath(path).c_str());
}

// The system's volumes find one file under every case of its name, with one number: the file's own
// lock holds it.
SourceFile::SourceFile(std::string path, const std::string&) : path_(std::move(path))
{
    const DWORD attributes = GetFileAttributesW(FilePath(path_).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        // A name with a wildcard that matched nothing is an invalid name: no such file either.
        missing_ = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_INVALID_NAME;
        problem_ = "the source file cannot be opened (" + SystemReason(code) + ")";
        return;
    }
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
        problem_ = "the source file is not a regular file";
        return;
    }
    // Shared with everyone, so that the tools read it and a change or removal by others shows.
    const HANDLE file =
        CreateFileW(FilePath(path_).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        problem_ = "the source file cannot be opened (" + SystemReason(GetLastError()) + ")";
        return;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        problem_ = "the source file is not a regular file";
        return;
    }
    volume_ = info.dwVolumeSerialNumber;
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        const DWORD error = GetLastError();
        problem_ = error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING
                       ? "the source file is locked: another run of Quorvil is converting it"
                       : "the source file cannot be locked (" + SystemReason(error) + ")";
    }
}

SourceFile::~SourceFile()
{
    if (handle_ != -1)
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

FileStamp SourceFile::Stamp() const
{
    BY_HANDLE_FILE_INFORMATION info;
    if (handle_ == -1 || !GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle_), &info))
        return {};
    // An open file stays on its volume; Wine forgets which once the file is renamed.
    if (info.dwVolumeSerialNumber == 0)
        info.dwVolumeSerialNumber = volume_;
    return StampFrom(info);
}

bool SourceFile::WriteProtected() const
{
    BY_HANDLE_FILE_INFORMATION info;
    return handle_ == -1 || !GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle_), &info) ||
           (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
}

SourceFile::AtName SourceFile::StillAtItsName() const
{
    // A file deleted while we hold it keeps its name until our handle closes.
    FILE_STANDARD_INFO standard;
    if (GetFileInformationByHandleEx(reinterpret_cast<HANDLE>(handle_), FileStandardInfo, &standard, sizeof standard) &&
        standard.DeletePending)
        return AtName::nothing;
    const UniqueHandle file = OpenShared(path_, 0, 0); // through a link, as the name was given
    if (!file)
        return NotFound(GetLastError()) ? AtName::nothing : AtName::other;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.get(), &info))
        return AtName::other;
    const FileStamp there = StampFrom(info);
    const FileStamp held = Stamp();
    return there.volume == held.volume && there.identity == held.identity ? AtName::same : AtName::other;
}

std::string SourceFile::Remove(const FileStamp& checked)
{
    const DWORD attributes = GetFileAttributesW(FilePath(path_).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return "its name is a link; Quorvil deletes no file through a link";
    const std::string why = RemoveIfSame(path_, checked);
    // A file marked for deletion goes when the last handle to it closes: ours now, another
    // program's (an indexer, a virus scanner, a probe of a parallel job) a moment later. Its name
    // lingers until then, but the deletion is done and cannot be taken back.
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
    return why;
}

bool SameFile(const std::string& first, const std::string& second)
{
    const auto identity = FileIdentity(first);
    return identity && identity == FileIdentity(second);
}

} // namespace quorvil
