// Started by the launcher tests:
//   exit N          ends with exit code N
//   sleep MS [FILE] sleeps, then creates FILE (when given) and ends with 0
//   fds FILE        writes "fd target" for every open descriptor to FILE
//   args FILE       writes each argument after "args FILE", NUL-terminated, to FILE
//   kill            ends abnormally (by a signal on POSIX)
//   complain N LINE... writes more blank lines than a pipe holds to stderr, then each LINE, and ends with N
//   report N MS LINE   sleeps MS, reports LINE as our tools report a failure, and ends with N
//   stale N LINE       leaves LINE where an earlier process with its id would have left its reason
//                      (Windows; POSIX keeps no such file), and ends with N
//   until-asked MS FILE  waits up to MS to be asked to end as the launcher asks (FILE says "ready" once
//                        it can be), then says "asked" in FILE and ends with 0
//   ignore-ask MS FILE   the same, but ignores such requests for MS, then ends with 1
//   grandchild FILE MS   starts a child that sleeps a minute, writes its id to FILE, sleeps MS (POSIX)
//   read-input MS   reads standard input to its end and ends with 0; gives up after MS and ends with 7
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include "ask_to_end.h"
#include "stale_report.h"
#include "tool_report.h"

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "exit" && argc > 2)
        return std::atoi(argv[2]);
    if (mode == "sleep" && argc > 2) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
        if (argc > 3)
            std::ofstream(argv[3]) << "done";
        return 0;
    }
    if (mode == "fds" && argc > 2) {
        std::string listing;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code ignored;
            listing += entry.path().filename().string() + " " +
                       std::filesystem::read_symlink(entry.path(), ignored).string() + "\n";
        }
        std::ofstream(argv[2]) << listing;
        return 0;
    }
    if (mode == "args" && argc > 2) {
        std::ofstream out(argv[2], std::ios::binary);
        for (int i = 3; i < argc; ++i)
            out << argv[i] << '\0';
        return 0;
    }
    if (mode == "complain" && argc > 2) {
        std::fputs(std::string(100000, '\n').c_str(), stderr);
        for (int i = 3; i < argc; ++i)
            std::fprintf(stderr, "%s\n", argv[i]);
        return std::atoi(argv[2]);
    }
    if (mode == "report" && argc > 4) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[3])));
        tool::ReportFailure(argv[4]);
        return std::atoi(argv[2]);
    }
    if (mode == "stale" && argc > 3) {
        LeaveStaleReport(argv[3]);
        return std::atoi(argv[2]);
    }
    if (mode == "until-asked" && argc > 3)
        return WaitToBeAskedToEnd(std::atoi(argv[2]), argv[3], true);
    if (mode == "ignore-ask" && argc > 3)
        return WaitToBeAskedToEnd(std::atoi(argv[2]), argv[3], false);
    if (mode == "grandchild" && argc > 3) {
        if (!LeaveAGrandchild(argv[2]))
            return 98;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[3])));
        return 0;
    }
    if (mode == "read-input" && argc > 2) {
        // A read that never ends holds its thread: the process ends without waiting for it.
        std::promise<void> ended;
        std::future<void> read = ended.get_future();
        std::thread([ended = std::move(ended)]() mutable {
            char buffer[4096];
            while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) {
            }
            ended.set_value();
        }).detach();
        std::_Exit(read.wait_for(std::chrono::milliseconds(std::atoi(argv[2]))) == std::future_status::ready ? 0 : 7);
    }
    if (mode == "kill")
        std::abort();
    return 99;
}
