#include "host.h"

#include <memory>

#include <windows.h>

#include "ansi_path_win32.h"
#include "errors.h"
#include "plan.h"
#include "system_text_win32.h"

namespace quorvil {

namespace {

bool IsAnsiLeadByte(unsigned char c)
{
    return IsDBCSLeadByte(c) != 0;
}

} // namespace

PathRules HostPathRules()
{
    return {PathStyle::windows, IsAnsiLeadByte};
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
    const std::wstring dir = program.substr(0, program.find_last_of(L"\\:") + 1);
    if (auto path = AnsiPath(dir))
        return *path;
    throw Error("Cannot find the program's own directory: " + ShownPath(dir) +
                " cannot be written in the system's code page, and has no short name that can. Move Quorvil to a "
                "folder whose name can be written");
}

std::string FullPath(const std::string& path)
{
    const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        throw Error(IoErrorMessage(static_cast<int>(GetLastError())));
    std::string full(needed, '\0');
    const DWORD n = GetFullPathNameA(path.c_str(), needed, full.data(), nullptr);
    if (n == 0 || n >= needed)
        throw Error(IoErrorMessage(static_cast<int>(GetLastError())));
    full.resize(n);
    return full;
}

ScriptDirectory::~ScriptDirectory() = default;

bool ScriptDirectory::Owned()
{
    return false;
}

const std::string& ScriptDirectory::Get(const std::function<void(const std::string&)>&)
{
    return programDir_;
}

} // namespace quorvil
