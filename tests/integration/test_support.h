#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "queue_run.h"
#include "test_files.h"

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

// What the window holds: a live list and two live check boxes.
struct FakeQueue {
    std::vector<std::string> entries;
    bool subdir = true;
    bool deleteOriginal = false;

    [[nodiscard]] QueueAccess Access();
};

// Code page 932 (Shift-JIS): 0x81-0x9F and 0xE0-0xFC open a two-byte character, whose second
// byte may be 0x5C ("\").
[[nodiscard]] inline bool Cp932Lead(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// A program's file name on this host: "vdub" here, "vdub.exe" on Windows.
[[nodiscard]] std::string ProgramName(const std::string& name);

// The host's path separator, as a string to join with.
[[nodiscard]] std::string Sep();

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

// Polls until ready() holds, for at most `bound`: what another thread or process is to do is waited
// for, never a fixed time. Whether it came.
template <class Ready> bool WaitUntil(Ready ready, std::chrono::milliseconds bound)
{
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void SetEnv(const char* name, const std::string& value);
void UnsetEnv(const char* name);

// How the system says that a file is not there.
[[nodiscard]] std::string NoSuchFileText();

// Makes a FIFO; false where the platform has none.
[[nodiscard]] bool MakeFifo(const std::string& path);

// Makes a file that this process cannot delete (immutable for root, in a folder it may not write
// to otherwise; read-only on Windows), and undoes that. False when it cannot be done here.
[[nodiscard]] bool MakeUndeletable(const std::string& path);
void MakeDeletable(const std::string& path);

// Sets an environment variable for the life of the object; what it was comes back afterwards.
// The records in a record folder that are not those a converted entry leaves over for the next run.
[[nodiscard]] int RecordsLeftOpen(const std::string& folder);

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

} // namespace quorvil::test
