#include "shell_files.h"

#include <algorithm>
#include <optional>

#include "errors.h"

namespace quorvil {

namespace {

// A name in the code page, or nothing when a character has no place there (no best fit either:
// a look-alike letter would name another file).
std::optional<std::string> InCodePage(const std::wstring& name, std::string& shown)
{
    shown.clear();
    if (name.empty())
        return std::string();
    BOOL lossy = FALSE;
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.data(), static_cast<int>(name.size()),
                                         nullptr, 0, nullptr, &lossy);
    shown.resize(static_cast<std::size_t>(std::max(size, 0)));
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.data(), static_cast<int>(name.size()), shown.data(), size,
                        nullptr, &lossy);
    if (lossy || size <= 0)
        return std::nullopt;
    return shown;
}

void Add(ShellFiles& files, const std::wstring& name)
{
    std::string shown;
    if (std::optional<std::string> text = InCodePage(name, shown))
        files.files.push_back(std::move(*text));
    else
        files.refused.push_back(std::move(shown));
}

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
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
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

void ShellFiles::ThrowIfRefused() const
{
    if (refused.empty())
        return;
    std::string text = refused.size() == 1 ? "Not added to the queue:"
                                           : "Not added to the queue (" + std::to_string(refused.size()) + " files):";
    for (const std::string& name : refused)
        text += "\n" + name;
    text += refused.size() == 1 ? "\nIts name has" : "\nTheir names have";
    text += " characters outside code page " + std::to_string(GetACP()) +
            ", in which Quorvil and its tools take names. Rename the file, or set the language for non-Unicode "
            "programs to one whose code page has them.";
    throw Error(text);
}

ShellFiles DroppedFiles(HDROP drop)
{
    ShellFiles files;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        std::wstring name(DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
        name.resize(DragQueryFileW(drop, i, name.data(), static_cast<UINT>(name.size())));
        const DWORD attributes = GetFileAttributesW(name.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            for (const std::wstring& inside : AviFilesIn(name))
                Add(files, inside);
        } else {
            Add(files, name);
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
    // Options are plain ASCII: an argument the code page cannot hold is a file name, refused here.
    std::vector<std::string> given;
    for (int i = 1; i < count; ++i) {
        std::string shown;
        if (std::optional<std::string> text = InCodePage(arguments[i], shown)) {
            given.push_back(std::move(*text));
        } else {
            (void)InCodePage(FullPath(arguments[i]), shown);
            result.files.refused.push_back(std::move(shown));
        }
    }
    LocalFree(arguments);
    result.start = ParseStartArguments(given);
    for (const std::string& file : result.start.files) {
        std::wstring wide(static_cast<std::size_t>(
                              MultiByteToWideChar(CP_ACP, 0, file.data(), static_cast<int>(file.size()), nullptr, 0)),
                          L'\0');
        MultiByteToWideChar(CP_ACP, 0, file.data(), static_cast<int>(file.size()), wide.data(),
                            static_cast<int>(wide.size()));
        Add(result.files, FullPath(wide));
    }
    return result;
}

} // namespace quorvil
