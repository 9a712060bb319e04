#include "host.h"

#include <memory>
#include <type_traits>

#include <windows.h>

#include "ansi_path_win32.h"
#include "errors.h"
#include "plan.h"
#include "system_text_win32.h"
#include "tool_mark.h"
#include "wide_text_win32.h"

namespace quorvil {

namespace {

struct ModuleFreer {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using UniqueModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFreer>;

// Whether the program is one of our tools: the build puts a mark in their resources, read here
// without running the program. A name would not tell (a user's VirtualDub may be named vdub.exe),
// nor a version (a tool of ours from before the mark reads only the code page).
bool MarkedAsOurs(const std::string& programFile)
{
    const UniqueModule module(LoadLibraryExW(FilePath(programFile).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    return module && FindResourceW(module.get(), kToolMarkName, MAKEINTRESOURCEW(kToolMarkType)) != nullptr;
}

} // namespace

PathRules HostPathRules()
{
    return {PathStyle::windows, NoLeadBytes};
}

std::string ProgramDirectory()
{
    // Asked in UTF-16: the 8-bit call would give a look-alike of a name the code page cannot write
    // (a profile folder "Łukasz" as "Lukasz"), a folder that is not there.
    std::wstring program(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()));
        if (n == 0)
            throw Error("Cannot find the program's own directory: " + SystemText(GetLastError()));
        if (n < program.size()) {
            program.resize(n);
            break;
        }
        program.resize(program.size() * 2); // cut off: try again with more room
    }
    return Utf8(program.substr(0, program.find_last_of(L"\\:") + 1));
}

std::string ScriptBytesFor(const std::string& text)
{
    if (std::optional<std::string> bytes = CodePageName(FromUtf8(text)))
        return *bytes;
    return "\xEF\xBB\xBF" + text;
}

std::string ToolCannotTake(const std::string& programFile, const std::vector<std::string>& names)
{
    std::optional<bool> ours; // asked only when a name needs it
    for (const std::string& name : names) {
        const std::wstring wide = FromUtf8(name);
        const bool fits = CodePageName(wide).has_value();
        if (fits && wide.size() < MAX_PATH)
            continue;
        if (!ours)
            ours = MarkedAsOurs(programFile);
        if (*ours)
            return {};
        const std::string tool = FileNamePart(programFile, HostPathRules());
        if (!fits)
            return name + ": the tool " + tool +
                   " is not Quorvil's own, and reads names only in this system's code page (" +
                   std::to_string(GetACP()) + "), which cannot write this one";
        return name + ": its path is " + std::to_string(wide.size()) + " characters long; the tool " + tool +
               " is not Quorvil's own, and opens paths of at most " + std::to_string(MAX_PATH - 1) + " characters";
    }
    return {};
}

std::string ScriptFolderFor(const std::string& programFile, const std::string& folder)
{
    if (CodePageName(FromUtf8(folder)) || MarkedAsOurs(programFile))
        return folder;
    std::wstring shortName(MAX_PATH, L'\0');
    const DWORD length = GetShortPathNameW(FromUtf8(folder).c_str(), shortName.data(), MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return folder;
    shortName.resize(length);
    return CodePageName(shortName) ? Utf8(shortName) : folder;
}

std::string FullPath(const std::string& path)
{
    const std::wstring wide = FromUtf8(path);
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        throw Error(IoErrorMessage(static_cast<int>(GetLastError())));
    std::wstring full(needed, L'\0');
    const DWORD n = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (n == 0 || n >= needed)
        throw Error(IoErrorMessage(static_cast<int>(GetLastError())));
    full.resize(n);
    return Utf8(full);
}

} // namespace quorvil
