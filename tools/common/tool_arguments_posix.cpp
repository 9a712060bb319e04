#include "tool_arguments.h"

namespace tool {

std::vector<std::string> Arguments(int argc, char** argv)
{
    return {argv + 1, argv + argc};
}

} // namespace tool
