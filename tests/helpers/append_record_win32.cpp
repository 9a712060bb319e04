#include "append_record.h"

#include <windows.h>

void AppendRecord(const std::string& path, const std::string& bytes)
{
    // Append access alone makes the system write at the end of the file as it is at that moment;
    // the C runtime's append mode seeks first and writes after, and two tools could meet between.
    const HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}
