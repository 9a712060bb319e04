#include <cstdio>
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "file_system.h"
#include "new_file.h"
#include "script.h"
#include "split_pass.h"
#include "tool_arguments.h"
#include "tool_report.h"

namespace {

constexpr const char* kUsage = "Usage: vdub /s SCRIPT [/min]\n";

int Run(const std::vector<std::string>& arguments)
{
    std::string scriptPath;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (arg == "--help") {
            std::cout << kUsage
                      << "Runs a VirtualDub-style script in direct stream copy mode: Open, SaveWAV,\n"
                         "audio.SetSource, SaveCompatibleAVI, Close. /min is accepted and changes nothing.\n";
            return 0;
        }
        if (arg == "--version") {
            std::cout << "vdub " QUORVIL_VERSION " (Quorvil)\n";
            return 0;
        }
        if ((arg == "/s" || arg == "/S") && i + 1 < arguments.size()) {
            scriptPath = arguments[++i];
        } else if (arg != "/min" && arg != "/MIN") {
            std::cerr << "vdub: unknown argument " << arg << '\n' << kUsage;
            return 2;
        }
    }
    if (scriptPath.empty()) {
        std::cerr << kUsage;
        return 2;
    }

    try {
        for (const auto& job : vdub::ParseScript(vdub::ReadScript(scriptPath), scriptPath))
            vdub::RunJob(job);
    } catch (const std::bad_alloc&) { // the outputs' destructors have removed what was half-written
        tool::ReportFailure("vdub: out of memory");
        return 1;
    } catch (const std::exception& failure) { // ours, and any other: the outputs are gone all the same
        tool::ReportFailure(std::string("vdub: ") + failure.what());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    tool::EndCleanlyWithParent();
    tool::StartOutputRecord();
    // FFmpeg's log lines (a context's address, its own wording, several for one fault) would land in
    // the error output whose last lines Quorvil shows as the reason: vdub says why it failed itself,
    // in one line, and FFmpeg says nothing.
    av_log_set_level(AV_LOG_QUIET);
    return Run(tool::Arguments(argc, argv));
}
