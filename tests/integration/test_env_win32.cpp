#include <cstdlib>

#include <map>

#include <windows.h>

#include "test_support.h"

namespace quorvil::test {

// _putenv_s changes the process's environment too, which the tools it starts inherit.
void SetEnv(const char* name, const std::string& value)
{
    ::_putenv_s(name, value.c_str());
}

void UnsetEnv(const char* name)
{
    ::_putenv_s(name, "");
}

std::string NoSuchFileText()
{
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   ERROR_FILE_NOT_FOUND, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = text ? text : "";
    LocalFree(text);
    while (!result.empty() && (static_cast<unsigned char>(result.back()) <= ' ' || result.back() == '.'))
        result.pop_back();
    return result;
}

bool MakeFifo(const std::string&)
{
    return false;
}

// Held open by the test without sharing its deletion, as another program may hold a file: Windows
// refuses to delete it meanwhile. (The read-only attribute would make it write-protected, which
// Quorvil keeps before trying.)
std::map<std::string, HANDLE> heldOpen;

bool MakeUndeletable(const std::string& path)
{
    const HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    heldOpen[path] = file;
    return true;
}

void MakeDeletable(const std::string& path)
{
    if (const auto held = heldOpen.find(path); held != heldOpen.end()) {
        CloseHandle(held->second);
        heldOpen.erase(held);
    }
}

} // namespace quorvil::test
