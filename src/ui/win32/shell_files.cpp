#include "shell_files.h"

#include "wide_text_win32.h"
#include <algorithm>

namespace quorvil {

namespace {

bool IsAviName(const std::wstring& name)
{
    constexpr std::wstring_view kAvi = L".avi";
    return name.size() > kAvi.size() &&
           CompareStringOrdinal(name.data() + name.size() - kAvi.size(), static_cast<int>(kAvi.size()), kAvi.data(),
                                static_cast<int>(kAvi.size()), TRUE) == CSTR_EQUAL;
}

// The AVI files directly inside a folder, in name order as Explorer shows them.
std::vector<std::wstring> AviFilesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(FilePath(Utf8(folder + L"\\*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsAviName(found.cFileName))
            names.emplace_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE | SORT_DIGITSASNUMBERS, a.c_str(), -1, b.c_str(),
                              -1) == CSTR_LESS_THAN;
    });
    const std::wstring prefix = folder.ends_with(L'\\') ? folder : folder + L'\\';
    for (std::wstring& name : names)
        name = prefix + name;
    return names;
}

std::wstring FullPath(const std::wstring& name)
{
    const DWORD size = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return name;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(name.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size)
        return name;
    full.resize(length);
    return full;
}

} // namespace

void ShellFiles::Add(const std::wstring& name)
{
    files.push_back(Utf8(name));
}

ShellFiles DroppedFiles(HDROP drop)
{
    ShellFiles files;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        std::wstring name(DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
        name.resize(DragQueryFileW(drop, i, name.data(), static_cast<UINT>(name.size())));
        const DWORD attributes = GetFileAttributesW(FilePath(Utf8(name)).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            for (const std::wstring& inside : AviFilesIn(name))
                files.Add(inside);
        } else {
            files.Add(name);
        }
    }
    return files;
}

ShellStart StartFromCommandLine(const wchar_t* commandLine)
{
    ShellStart result;
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(commandLine, &count);
    if (!arguments)
        return result;
    // Options are plain ASCII; the files are taken from UTF-8 without a loss.
    std::vector<std::string> given;
    for (int i = 1; i < count; ++i)
        given.push_back(Utf8(arguments[i]));
    LocalFree(arguments);
    result.start = ParseStartArguments(given);
    for (const std::string& file : result.start.files)
        result.files.Add(FullPath(FromUtf8(file)));
    return result;
}

} // namespace quorvil
