#include "host.h"

#include <memory>

#include <windows.h>

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
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            throw Error("Cannot find the program's own directory: " + SystemText(GetLastError()));
        if (n < buffer.size()) {
            buffer.resize(n);
            return DirectoryPart(buffer, HostPathRules());
        }
        buffer.resize(buffer.size() * 2); // cut off: try again with more room
    }
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

const std::string& ScriptDirectory::Get()
{
    return programDir_;
}

} // namespace quorvil
