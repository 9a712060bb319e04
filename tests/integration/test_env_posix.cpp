#include <cstdlib>

#include "test_support.h"

namespace quorvil::test {

void SetEnv(const char* name, const std::string& value)
{
    ::setenv(name, value.c_str(), 1);
}

void UnsetEnv(const char* name)
{
    ::unsetenv(name);
}

} // namespace quorvil::test
