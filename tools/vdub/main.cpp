#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <new>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "new_file.h"
#include "script.h"
#include "split_pass.h"
#include "tool_report.h"

namespace {

constexpr const char* kUsage = "Usage: vdub /s SCRIPT [/min]\n";

int Run(int argc, char** argv)
{
    std::string scriptPath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
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
        if ((arg == "/s" || arg == "/S") && i + 1 < argc) {
            scriptPath = argv[++i];
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
        std::ifstream in(scriptPath, std::ios::binary);
        if (!in)
            throw vdub::Failure("cannot read the script \"" + scriptPath + "\"");
        const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        for (const auto& job : vdub::ParseScript(text, scriptPath))
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
    return Run(argc, argv);
}
