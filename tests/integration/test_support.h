#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quorvil::test {

// A fresh directory for one test, removed with everything in it afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    // The path with a trailing separator, as a program directory is given.
    [[nodiscard]] std::string dir() const { return (path_ / "").string(); }
    [[nodiscard]] std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

[[nodiscard]] std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// One run of the fake tool: its name, its command line (Windows), its arguments and, for vdub,
// the script it was given.
struct ToolRun {
    std::string tool;
    std::string commandLine;
    std::vector<std::string> args;
    std::string script;
};
[[nodiscard]] std::vector<ToolRun> ReadToolLog(const std::string& path);

// Copies the fake tool (by default the one this build made) into dir under the names vdub and
// sox, with the tool's own suffix.
void InstallFakeTools(const TempDir& dir);
void InstallFakeTools(const TempDir& dir, const std::string& fakeTool);

void SetEnv(const char* name, const std::string& value);
void UnsetEnv(const char* name);

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
};

} // namespace quorvil::test
