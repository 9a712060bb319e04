// Prints what a queue run costs per entry with tools that end at once, next to spawning and
// waiting for the same three programs with the same arguments directly.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

#include "command_line.h"
#include "errors.h"
#include "file_ops.h"
#include "host.h"
#include "plan.h"
#include "queue_run.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double PerEntryMicros(Clock::duration d, int entries)
{
    return std::chrono::duration<double, std::micro>(d).count() / entries;
}

void SpawnAndWait(const quorvil::ToolCommand& command)
{
    auto args = quorvil::SplitCommandLine(command.parameters);
    std::vector<char*> argv{const_cast<char*>(command.programFile.c_str())};
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0)
        waitpid(pid, nullptr, 0);
}

} // namespace

int main(int argc, char** argv)
{
    const int entries = argc > 1 ? std::atoi(argv[1]) : 200;
    const int rounds = 5;
    const fs::path root = fs::temp_directory_path() / ("quorvil-bench-" + std::to_string(getpid()));
    fs::create_directories(root / "tools");
    fs::create_directories(root / "clips");
    fs::create_symlink(FAKE_TOOL, root / "tools" / "vdub");
    fs::create_symlink(FAKE_TOOL, root / "tools" / "sox");
    const std::string dir = (root / "tools").string() + "/";
    std::vector<std::string> queue;
    for (int i = 0; i < entries; ++i) {
        queue.push_back((root / "clips" / ("clip" + std::to_string(i) + ".avi")).string());
        std::ofstream(queue.back()) << "RIFF";
    }
    const quorvil::PathRules rules = quorvil::HostPathRules();
    const quorvil::QueueAccess access{
        [&] { return entries; },
        [&](int i) -> std::optional<std::string> { return queue[static_cast<std::size_t>(i)]; },
        [] { return false; },
        [] { return false; },
    };
    quorvil::QueueRunner runner({dir, rules, quorvil::LaunchTool, nullptr, {}});

    std::vector<double> run;
    std::vector<double> direct;
    for (int round = 0; round <= rounds; ++round) { // round 0 warms up
        auto start = Clock::now();
        try {
            runner.RunQueue(access, [] {});
        } catch (const quorvil::Error& e) {
            std::fprintf(stderr, "run failed: %s\n", e.what());
            return 1;
        }
        const double r = PerEntryMicros(Clock::now() - start, entries);

        start = Clock::now();
        for (const auto& path : queue) {
            quorvil::WriteScriptFile(quorvil::ScriptFile(dir),
                                     quorvil::ScriptFileBytes(quorvil::BuildScriptLines(path, false, rules)));
            for (const auto& command : quorvil::BuildToolCommands(path, dir, false, rules))
                SpawnAndWait(command);
            // The soundtrack goes, as a run deletes it: the next round's entry refuses one it finds.
            quorvil::DeleteFileQuietly(quorvil::SoundtrackFile(path));
        }
        const double d = PerEntryMicros(Clock::now() - start, entries);
        if (round > 0) {
            run.push_back(r);
            direct.push_back(d);
        }
    }
    fs::remove_all(root);

    std::sort(run.begin(), run.end());
    std::sort(direct.begin(), direct.end());
    const double runMedian = run[run.size() / 2];
    const double directMedian = direct[direct.size() / 2];
    std::printf("queue run, %d entries x %d rounds (median per entry)\n", entries, rounds);
    std::printf("  RunQueue:                   %8.0f us\n", runMedian);
    std::printf("  direct spawn + wait (x3):   %8.0f us\n", directMedian);
    std::printf("  ratio:                      %8.2f\n", runMedian / directMedian);
    return 0;
}
