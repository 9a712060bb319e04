// Stands in for vdub and sox in queue-run tests; linked or copied under those names.
//
// Appends one record to $FAKE_TOOL_LOG: its own name, its command line as the system gave it
// (Windows only), each argument, and for vdub the script's bytes as they were when it started.
// Fields end with \x1f, records with \x1e.
// Then, unless $FAKE_FAIL names it ("vdub", "left" or "right": it then says so on stderr and exits
// 1, the way our own tools report a failure), it writes its outputs: vdub the soundtrack (a stereo WAV of 4 frames of
// silence) and the video ("RIFF video") the script names, when the source it opens exists; sox a mono WAV of as many
// frames as its input, in its sample format, which it checks exists, as the real one does. $FAKE_SLEEP_MS makes every
// run last that long; with $FAKE_SLOW set, only the runs whose record holds that text (a source's name, say: it is in
// vdub's script and in sox's arguments). $FAKE_SOUNDTRACK ("24", "f32", ...) gives the soundtrack other samples than
// 16-bit ones. When $FAKE_TEMPORARY names it, a tool first leaves temporary files in its outputs' folders under the
// names the real tools use (.vdub-PID-N, .sox-PID-N), as a tool ended halfway would. $FAKE_VDUB_WARNING makes
// vdub warn as ours does of a stream it leaves out, and go on. With $FAKE_TAKE_SOURCE set, the left
// channel's sox moves the source (its input's name without ".wav") to that name plus ".moved", as
// another program might while the entry runs. With $FAKE_SWAP_FOLDER set, it moves the source's output
// folder away instead and puts a link to that folder in its place, as a neighbour with write access
// to the source's folder might.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "append_record.h"
#include "raw_command_line.h"
#include "test_files.h"
#include "tool_report.h"

namespace {

using quorvil::test::ReadFile;

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The string argument of a script statement such as VirtualDub.SaveWAV("...");
std::string ScriptString(const std::string& script, const std::string& statement)
{
    const auto start = script.find(statement + "(\"");
    if (start == std::string::npos)
        return {};
    std::string value;
    for (auto i = start + statement.size() + 2; i < script.size() && script[i] != '"'; ++i) {
        if (script[i] == '\\' && i + 1 < script.size())
            ++i;
        value += script[i];
    }
    return value;
}

} // namespace

int main(int argc, char** argv)
{
    std::string name = argv[0];
    name = name.substr(name.find_last_of("/\\") + 1);
    if (name.size() > 4 && name.ends_with(".exe"))
        name.resize(name.size() - 4);
    std::vector<std::string> args(argv + 1, argv + argc);

    std::string script;
    if (name == "vdub" && args.size() >= 2)
        script = ReadFile(args[1]);

    std::string record = name + "\x1f" + RawCommandLine() + "\x1f";
    for (const auto& arg : args)
        record += arg + "\x1f";
    if (name == "vdub")
        record += script + "\x1f";
    AppendRecord(Env("FAKE_TOOL_LOG"), record + "\x1e");

    const std::string role = name == "vdub" ? "vdub" : (args.size() > 3 && args[3] == "-1") ? "left" : "right";
    if (Env("FAKE_TEMPORARY") == role) {
        const auto folder = [](const std::string& path) { return path.substr(0, path.find_last_of("/\\") + 1); };
        const std::string prefix = (name == "vdub" ? ".vdub-" : ".sox-") + std::to_string(OwnProcessId()) + "-";
        if (name == "vdub") {
            std::ofstream(folder(ScriptString(script, "VirtualDub.SaveWAV")) + prefix + "0") << "half a soundtrack";
            std::ofstream(folder(ScriptString(script, "VirtualDub.SaveCompatibleAVI")) + prefix + "1")
                << "half a video";
        } else if (args.size() >= 2) {
            std::ofstream(folder(args[1]) + prefix + "a1b2c3") << "half a channel";
        }
    }
    if (const std::string ms = Env("FAKE_SLEEP_MS"); !ms.empty() && record.find(Env("FAKE_SLOW")) != std::string::npos)
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(ms.c_str())));

    if (Env("FAKE_FAIL") == role) {
        tool::ReportFailure("fake " + role + ": failing as asked");
        return 1;
    }
    if (const std::string warning = Env("FAKE_VDUB_WARNING"); role == "vdub" && !warning.empty())
        tool::ReportWarning("vdub: warning: " + warning);

    if (name == "vdub") {
        if (ReadFile(ScriptString(script, "VirtualDub.Open")).empty())
            return 1;
        const std::string samples = Env("FAKE_SOUNDTRACK");
        const bool isFloat = samples.starts_with("f");
        const int bits = samples.empty() ? 16 : std::atoi(samples.c_str() + (isFloat ? 1 : 0));
        std::ofstream(ScriptString(script, "VirtualDub.SaveWAV"), std::ios::binary)
            << quorvil::test::WavBytes(2, 4, 8000, bits, isFloat ? 3 : 1);
        std::ofstream(ScriptString(script, "VirtualDub.SaveCompatibleAVI"), std::ios::binary) << "RIFF video";
        return 0;
    }
    if (const std::string to = Env("FAKE_SWAP_FOLDER"); !to.empty() && role == "left" && args[0].ends_with(".wav")) {
        const std::string folder = args[0].substr(0, args[0].size() - 4) + "_processed";
        std::filesystem::rename(folder, folder + ".moved");
        std::filesystem::create_directory_symlink(to, folder);
    }
    if (!Env("FAKE_TAKE_SOURCE").empty() && role == "left" && args[0].ends_with(".wav")) {
        const std::string source = args[0].substr(0, args[0].size() - 4);
        std::rename(source.c_str(), (source + ".moved").c_str());
    }
    const std::string input = args.size() >= 2 ? ReadFile(args[0]) : "";
    if (input.size() < 44)
        return 2;
    const auto number = [&input](std::size_t at) {
        return static_cast<unsigned char>(input[at]) | static_cast<unsigned char>(input[at + 1]) << 8 |
               static_cast<unsigned char>(input[at + 2]) << 16 |
               static_cast<unsigned>(static_cast<unsigned char>(input[at + 3])) << 24;
    };
    const unsigned block = number(32) & 0xFFFF;
    const unsigned bits = number(34) & 0xFFFF;
    std::ofstream out(args[1], std::ios::binary);
    out << quorvil::test::WavBytes(1, block ? number(40) / block : 0, number(24), static_cast<int>(bits),
                                   static_cast<int>(number(20) & 0xFFFF));
    return out ? 0 : 2;
}
