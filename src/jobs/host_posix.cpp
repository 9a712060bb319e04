#include "host.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <limits.h>
#include <unistd.h>

#include "errors.h"
#include "plan.h"

namespace quorvil {

PathRules HostPathRules()
{
    return {PathStyle::posix, NoLeadBytes};
}

std::string ProgramDirectory()
{
    std::string buffer(PATH_MAX, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size())
        throw Error("Cannot find the program's own directory: " + std::string(std::strerror(errno)));
    buffer.resize(static_cast<std::size_t>(n));
    return DirectoryPart(buffer, HostPathRules());
}

std::string ScriptBytesFor(const std::string& text)
{
    return text;
}

std::string ToolCannotTake(const std::string&, const std::vector<std::string>&)
{
    return {}; // names are bytes, which every tool takes as they are
}

std::string ScriptFolderFor(const std::string&, const std::string& folder)
{
    return folder;
}

std::string FullPath(const std::string& path)
{
    if (path.starts_with('/'))
        return path;
    std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
    if (!cwd)
        throw Error("Cannot find the current directory: " + std::string(std::strerror(errno)));
    std::string full = cwd.get();
    if (!full.ends_with('/'))
        full += '/';
    return full + path;
}

} // namespace quorvil
