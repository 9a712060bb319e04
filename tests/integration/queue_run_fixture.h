#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "command_line.h"
#include "errors.h"
#include "launcher.h"
#include "plan.h"
#include "queue_run.h"
#include "test_support.h"

namespace quorvil {

// The queue run over the fake tools: a folder of tools, one of sources, one of the runs' records, and
// the queue as the window holds it.
class QueueRunTest : public ::testing::Test {
protected:
    QueueRunTest() : logEnv_("FAKE_TOOL_LOG", log()) { test::InstallFakeTools(tools); }

    std::string log() const { return clips / "tools.log"; }
    std::vector<test::ToolRun> Runs() const { return test::ReadToolLog(log()); }

    // A source file: the headers of an AVI with one audio stream, unless told otherwise.
    std::string Clip(const std::string& name, int audioStreams = 1)
    {
        const std::string path = clips / name;
        test::WriteFile(path, test::AviBytes(audioStreams));
        return path;
    }

    RunEnvironment Environment()
    {
        return {tools.dir(), HostPathRules(),
                [this](const ToolCommand& c, const EventHook& h, ToolEnd* e) { return launch(c, h, e); }, nullptr,
                records.dir()};
    }

    // What a failing fake tool said, as the failure list quotes it (from its error output on POSIX,
    // from the file it leaves on Windows).
    static std::string Said(const std::string& role) { return " (fake " + role + ": failing as asked)"; }

    // Why the entry of source could not begin, as the closing message names its existing output folder.
    static std::string FolderExists(const std::string& source)
    {
        return "cannot create the output folder " + source + "_processed: it exists already (I/O error 183)";
    }

    // Runs the queue; the text of the error it ended with, or "" when it ended normally.
    std::string Run(const EventHook& hook = {}, int jobs = 1)
    {
        try {
            runner.RunQueue(window.Access(), hook, jobs);
        } catch (const Error& e) {
            return e.what();
        }
        return "";
    }

    static std::string Script(const std::string& path, const std::string& video)
    {
        return "VirtualDub.video.SetMode(0);\r\n"
               "VirtualDub.Open(\"" +
               EscapeScriptPath(path) +
               "\",0,0);\r\n"
               "VirtualDub.SaveWAV(\"" +
               EscapeScriptPath(path) +
               ".wav\");\r\n"
               "VirtualDub.audio.SetSource(0);\r\n"
               "VirtualDub.SaveCompatibleAVI(\"" +
               EscapeScriptPath(video) +
               "\");\r\n"
               "VirtualDub.Close();\r\n";
    }

    // Whether a tool's command is about the source named: sox's arguments name its soundtrack, the
    // video tool's script names the source.
    static bool About(const ToolCommand& command, const std::string& name)
    {
        if (command.showMode != ShowMode::hidden)
            return command.parameters.find(name + ".wav") != std::string::npos;
        const auto script = SplitCommandLine(command.parameters);
        return script.size() > 1 && test::ReadFile(script[1]).find(EscapeScriptPath(name) + "\"") != std::string::npos;
    }

    test::TempDir tools;
    test::TempDir clips;
    test::TempDir records; // where the runs keep their entry records
    test::FakeQueue window;
    Launcher launch = LaunchTool;
    QueueRunner runner{Environment()};

private:
    test::ScopedEnv logEnv_;
};

// What the folder holds, as names with a mark of their kind: what an entry must leave as it found it.
inline std::set<std::string> FolderHolds(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const auto status = std::filesystem::symlink_status(entry.path());
        std::string name = entry.path().filename().string();
        if (std::filesystem::is_symlink(status))
            name += " -> " + std::filesystem::read_symlink(entry.path()).string();
        else if (std::filesystem::is_directory(status))
            name += "/";
        else if (!std::filesystem::is_regular_file(status))
            name += " (special)";
        names.insert(name);
    }
    return names;
}

} // namespace quorvil
