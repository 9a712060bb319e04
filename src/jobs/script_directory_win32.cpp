#include "script_directory.h"

namespace quorvil {

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
