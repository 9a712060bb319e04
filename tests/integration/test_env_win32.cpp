#include <cstdlib>

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

bool MakeUndeletable(const std::string& path)
{
    return SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY) != 0;
}

void MakeDeletable(const std::string& path)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

} // namespace quorvil::test
