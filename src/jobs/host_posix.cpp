#include "host.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>

#include <limits.h>
#include <sys/stat.h>
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

ScriptDirectory::~ScriptDirectory()
{
    if (!made_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(made_, ignored);
    }
}

bool ScriptDirectory::Owned()
{
    return true;
}

const std::string& ScriptDirectory::Get(const std::function<void(const std::string&)>& naming)
{
    if (!made_.empty())
        return made_;
    std::string base;
    for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
        if (const char* value = std::getenv(name); value && *value == '/') {
            base = value;
            break;
        }
    }
    if (base.empty())
        base = "/tmp";
    if (!base.ends_with('/'))
        base += '/';
    // As mkdtemp makes it, but named before it is made.
    thread_local std::mt19937 random{std::random_device{}()};
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        std::string dir = base + "quorvil-";
        for (int i = 0; i < 6; ++i)
            dir += kLetters[random() % (sizeof kLetters - 1)];
        if (naming)
            naming(dir);
        if (::mkdir(dir.c_str(), 0700) == 0) {
            made_ = dir + "/";
            return made_;
        }
        error = errno;
    }
    throw Error(CannotCreateFileMessage(ScriptFile(base + "quorvil-XXXXXX/"), std::strerror(error)));
}

} // namespace quorvil
