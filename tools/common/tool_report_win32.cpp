#include "tool_report.h"

#include <cstdint>

#include <windows.h>

#include "handles_win32.h"
#include "report_file.h"
#include "wide_text_win32.h"

namespace tool {

namespace {

using quorvil::FilePath;
using quorvil::UniqueHandle;

void WriteAll(HANDLE handle, const std::string& text)
{
    DWORD written = 0;
    WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// Where the launcher looks for this process's reason; empty when no launcher of ours started it.
std::string ReportPath()
{
    // In UTF-16, as the launcher set it: the 8-bit environment has a look-alike of a folder the code
    // page cannot name.
    wchar_t folder[MAX_PATH];
    const DWORD length =
        GetEnvironmentVariableW(quorvil::FromUtf8(quorvil::kReportFolderVariable).c_str(), folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    FILETIME start;
    FILETIME exit;
    FILETIME kernel;
    FILETIME user;
    if (!GetProcessTimes(GetCurrentProcess(), &start, &exit, &kernel, &user))
        return {};
    const std::uint64_t startTime = static_cast<std::uint64_t>(start.dwHighDateTime) << 32 | start.dwLowDateTime;
    return quorvil::Utf8(std::wstring_view(folder, length)) + "\\" +
           quorvil::ReportFileName(GetCurrentProcessId(), startTime);
}

} // namespace

void ReportFailure(const std::string& line)
{
    const std::string text = line + '\n';
    // A console, or no error output at all, is left alone: our tools run without a window.
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error != nullptr && error != INVALID_HANDLE_VALUE) {
        const DWORD type = GetFileType(error);
        if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE)
            WriteAll(error, text);
    }
    if (const std::string path = ReportPath(); !path.empty()) {
        // The file is made new by the first line (a file found at the name is not ours, and is left
        // alone), and the lines after it are appended to it.
        static bool made = false;
        const HANDLE file = CreateFileW(FilePath(path).c_str(), made ? FILE_APPEND_DATA : GENERIC_WRITE, 0, nullptr,
                                        made ? OPEN_EXISTING : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            made = true;
            WriteAll(UniqueHandle(file).get(), text);
        }
    }
}

void ReportWarning(const std::string& line)
{
    ReportFailure(line); // appended: a warning and then a failure both reach the launcher
}

} // namespace tool
