#include <cstdlib>

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

} // namespace quorvil::test
