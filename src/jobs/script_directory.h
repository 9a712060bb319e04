#pragma once

#include <functional>
#include <string>
#include <utility>

namespace quorvil {

// Where a run writes its video-tool script. On Windows that is the program directory, as the
// video tool there expects. On POSIX it is a private directory of the run (under $XDG_RUNTIME_DIR,
// else $TMPDIR, else /tmp), made when first asked for and removed with this object: an installed
// copy works for every user, and two runs never share a script.
class ScriptDirectory {
public:
    explicit ScriptDirectory(std::string programDir) : programDir_(std::move(programDir)) {}
    ~ScriptDirectory();
    ScriptDirectory(const ScriptDirectory&) = delete;
    ScriptDirectory& operator=(const ScriptDirectory&) = delete;

    // The directory, ending with its separator. A directory it makes is first told to `naming` by its
    // name (and again, should that name be taken meanwhile, by the next), so that a record names it
    // before it exists. Throws Error ("Cannot create file ...") when the private directory cannot be made.
    [[nodiscard]] const std::string& Get(const std::function<void(const std::string&)>& naming = {});
    // Whether the directory is the run's own, made for it and removed with it.
    [[nodiscard]] static bool Owned();

private:
    std::string programDir_;
    std::string made_;
};

} // namespace quorvil
