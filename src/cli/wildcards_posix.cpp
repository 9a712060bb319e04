#include "wildcards.h"

namespace quorvil {

NamedFiles ExpandWildcards(const std::vector<std::string>& names)
{
    return {names, {}}; // the shell's work, done
}

} // namespace quorvil
