#include "script_directory.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include <sys/stat.h>

#include "errors.h"
#include "plan.h"

namespace quorvil {

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
