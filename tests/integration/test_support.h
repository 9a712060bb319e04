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

// The path of a helper program of the tests (tests/helpers/), beside the running test program.
[[nodiscard]] std::string TestHelper(const std::string& name);

// Copies the fake tool into dir under the names vdub and sox (vdub.exe and sox.exe on Windows).
void InstallFakeTools(const TempDir& dir);

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
