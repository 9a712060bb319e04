#include "file_io.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include <windows.h>

#include "channel_copy.h"

namespace sox {

namespace {

// The system's words for an error, without the line end and full stop FormatMessage adds.
std::string SystemText(DWORD code)
{
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                  sizeof text, nullptr);
    while (length > 0 && (static_cast<unsigned char>(text[length - 1]) <= ' ' || text[length - 1] == '.'))
        --length;
    return length > 0 ? std::string(text, length) : "system error " + std::to_string(code);
}

class HandleFile : public File {
public:
    explicit HandleFile(HANDLE handle) : handle_(handle) {}
    ~HandleFile() override { Close(); }

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
        auto* at = static_cast<char*>(data);
        std::int64_t done = 0;
        while (done < bytes) {
            DWORD n = 0;
            if (!ReadFile(handle_, at + done, Piece(bytes - done), &n, nullptr))
                return Failed();
            if (n == 0)
                break;
            done += n;
        }
        return done;
    }

    std::int64_t Write(const void* data, std::int64_t bytes) override
    {
        const auto* at = static_cast<const char*>(data);
        std::int64_t done = 0;
        while (done < bytes) {
            DWORD n = 0;
            if (!WriteFile(handle_, at + done, Piece(bytes - done), &n, nullptr))
                return Failed();
            done += n;
        }
        return done;
    }

    [[nodiscard]] HANDLE handle() const { return handle_; }

    void Close()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    // ReadFile and WriteFile count in 32 bits.
    static DWORD Piece(std::int64_t bytes) { return static_cast<DWORD>(std::min<std::int64_t>(bytes, 1 << 30)); }

    std::int64_t Failed()
    {
        lastError_ = SystemText(GetLastError());
        return -1;
    }

    HANDLE handle_;
};

// Marks an open file to be deleted when its last handle closes, or takes the mark back.
bool MarkForDeletion(HANDLE file, bool remove)
{
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

class TemporaryOutput : public OutputFile {
public:
    TemporaryOutput(HANDLE handle, std::string path, std::string target)
        : file_(handle), path_(std::move(path)), target_(std::move(target))
    {
        // The system removes it when the process ends, however it ends, unless Commit() comes first.
        MarkForDeletion(file_.handle(), true);
    }

    ~TemporaryOutput() override
    {
        file_.Close();
        if (!committed_)
            DeleteFileA(path_.c_str()); // where the mark could not be set, or was taken back
    }

    File& file() override { return file_; }

    void Commit() override
    {
        // A file marked for deletion cannot be renamed, nor a file open without shared delete access.
        if (!MarkForDeletion(file_.handle(), false))
            throw Failure("cannot write " + Quoted(target_) + ": " + SystemText(GetLastError()));
        file_.Close();
        if (!MoveFileExA(path_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING))
            throw Failure("cannot write " + Quoted(target_) + ": " + SystemText(GetLastError()));
        committed_ = true;
    }

private:
    HandleFile file_;
    std::string path_;
    std::string target_;
    bool committed_ = false;
};

} // namespace

std::unique_ptr<File> OpenInput(const std::string& name)
{
    const HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        throw Failure("cannot read " + Quoted(name) + ": " + SystemText(GetLastError()));
    return std::make_unique<HandleFile>(handle);
}

std::unique_ptr<OutputFile> CreateOutput(const std::string& target)
{
    const auto separator = target.find_last_of("\\/:");
    const std::string directory = separator == std::string::npos ? "" : target.substr(0, separator + 1);
    // Names of our own process cannot clash with another's; within it, the next number is tried.
    for (unsigned attempt = 0;; ++attempt) {
        const std::string path =
            directory + ".sox-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt) + ".tmp";
        const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            return std::make_unique<TemporaryOutput>(handle, path, target);
        const DWORD error = GetLastError();
        // A leftover of an earlier process with our id: a file, or one being deleted (access denied).
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ACCESS_DENIED) || attempt == 100)
            throw Failure("cannot write " + Quoted(target) + ": " + SystemText(error));
    }
}

} // namespace sox
