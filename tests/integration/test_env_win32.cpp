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
