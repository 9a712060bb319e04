// A queue run on Windows: CreateDirectoryA, the script through CreateFileA/WriteFile, the fake
// tools started through ShellExecuteExA, deletions through DeleteFileA.
#include <filesystem>

#include <windows.h>

#include <gtest/gtest.h>

#include "errors.h"
#include "file_ops.h"
#include "queue_run.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::ReadFile;
using test::TempDir;
namespace fs = std::filesystem;

class QueueRunWin32Test : public ::testing::Test {
protected:
    QueueRunWin32Test() : log_("FAKE_TOOL_LOG", clips / "tools.log") { test::InstallFakeTools(tools); }

    std::string Clip(const std::string& name)
    {
        const std::string path = clips / name;
        test::WriteFile(path, "RIFF " + name);
        return path;
    }

    std::string Run()
    {
        const QueueAccess queue{
            [this] { return static_cast<int>(entries.size()); },
            [this](int i) -> std::optional<std::string> {
                if (i >= static_cast<int>(entries.size()))
                    return std::nullopt;
                return entries[static_cast<std::size_t>(i)];
            },
            [this] { return subdir; },
            [this] { return deleteOriginal; },
        };
        try {
            RunQueue(queue, {}, {tools.dir(), HostPathRules(), LaunchTool, nullptr});
        } catch (const Error& e) {
            return e.what();
        }
        return "";
    }

    std::vector<test::ToolRun> Runs() const { return test::ReadToolLog(clips / "tools.log"); }

    TempDir tools;
    TempDir clips;
    std::vector<std::string> entries;
    bool subdir = true;
    bool deleteOriginal = false;

private:
    test::ScopedEnv log_;
};

// What follows the program in a command line: the parameters as the shell passed them on.
std::string ParametersOf(const std::string& commandLine, const std::string& program)
{
    const auto at = commandLine.find(program);
    if (at == std::string::npos)
        return "(program not found in: " + commandLine + ")";
    std::size_t rest = at + program.size();
    if (rest < commandLine.size() && commandLine[rest] == '"')
        ++rest;
    while (rest < commandLine.size() && commandLine[rest] == ' ')
        ++rest;
    return commandLine.substr(rest);
}

TEST_F(QueueRunWin32Test, HostPaths)
{
    EXPECT_TRUE(tools.dir().ends_with("\\"));
    EXPECT_TRUE(ProgramDirectory().ends_with("\\"));
    EXPECT_EQ(FullPath(ProgramDirectory() + "x.avi"), ProgramDirectory() + "x.avi");
    EXPECT_EQ(HostPathRules().style, PathStyle::windows);
    // The manifest linked into the program asks for the UTF-8 code page: no double-byte lead bytes.
    EXPECT_EQ(GetACP(), 65001u);
    EXPECT_FALSE(HostPathRules().isLeadByte(0x95));
}

TEST_F(QueueRunWin32Test, ConvertsWithTheScriptAndCommandsAsPlanned)
{
    const std::string a = Clip("take 1.avi");
    entries = {a};
    EXPECT_EQ(Run(), "");

    const std::string sub = a + "_processed";
    EXPECT_TRUE(fs::is_directory(sub));
    const auto runs = Runs();
    ASSERT_EQ(runs.size(), 3u);
    const std::string dir = tools.dir();
    EXPECT_EQ(runs[0].tool, "vdub");
    EXPECT_EQ(ParametersOf(runs[0].commandLine, dir + "vdub.exe"), "/s \"" + dir + "temp.vdf\" /min");
    EXPECT_EQ(ParametersOf(runs[1].commandLine, dir + "sox.exe"),
              "\"" + a + ".wav\" \"" + sub + "\\take 1.avi.A1.wav\" remix -1");
    EXPECT_EQ(ParametersOf(runs[2].commandLine, dir + "sox.exe"),
              "\"" + a + ".wav\" \"" + sub + "\\take 1.avi.A2.wav\" remix 2");

    std::string escaped;
    for (char c : a)
        escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    EXPECT_EQ(runs[0].script, "VirtualDub.video.SetMode(0);\r\n"
                              "VirtualDub.Open(\"" +
                                  escaped +
                                  "\",0,0);\r\n"
                                  "VirtualDub.SaveWAV(\"" +
                                  escaped +
                                  ".wav\");\r\n"
                                  "VirtualDub.audio.SetSource(0);\r\n"
                                  "VirtualDub.SaveCompatibleAVI(\"" +
                                  escaped +
                                  "_processed\\\\take 1.avi\");\r\n"
                                  "VirtualDub.Close();\r\n");

    EXPECT_EQ(ReadFile(sub + "\\take 1.avi.A2.wav"), "RIFF right");
    EXPECT_FALSE(fs::exists(a + ".wav"));
    EXPECT_FALSE(fs::exists(dir + "temp.vdf"));
    EXPECT_TRUE(fs::exists(a));

    // A second run stops at the existing output directory before any tool.
    EXPECT_EQ(Run(), "I/O error 183");
    EXPECT_EQ(Runs().size(), 3u);
}

TEST_F(QueueRunWin32Test, SourceDeletedOnlyAfterSuccess)
{
    const std::string a = Clip("a.avi");
    const std::string b = Clip("b.avi");
    entries = {a};
    subdir = false;
    deleteOriginal = true;
    {
        const test::ScopedEnv fail("FAKE_FAIL", "right");
        EXPECT_EQ(Run(), "1 file was not converted, and its source file was kept:\n" + a +
                             ": sox.exe for the right channel ended with exit code 1");
    }
    EXPECT_TRUE(fs::exists(a));
    EXPECT_FALSE(fs::exists(a + ".wav"));

    entries = {a, b};
    EXPECT_EQ(Run(), "");
    EXPECT_FALSE(fs::exists(a));
    EXPECT_FALSE(fs::exists(b));
    EXPECT_TRUE(fs::exists(b + ".noaudio.avi"));
}

TEST_F(QueueRunWin32Test, MissingToolIsListed)
{
    fs::remove(tools / "vdub.exe");
    const std::string a = Clip("a.avi");
    entries = {a};
    deleteOriginal = true;
    EXPECT_EQ(Run(), "1 file was not converted, and its source file was kept:\n" + a +
                         ": vdub.exe could not be started or did not end normally");
    EXPECT_TRUE(fs::exists(a));
}

TEST_F(QueueRunWin32Test, ScriptThatCannotBeCreated)
{
    const std::string notADirectory = tools / "file";
    test::WriteFile(notADirectory, "x");
    entries = {Clip("a.avi")};
    subdir = false;
    try {
        RunQueue({[] { return 1; }, [this](int) -> std::optional<std::string> { return entries[0]; },
                  [] { return false; }, [] { return false; }},
                 {}, {notADirectory + "\\", HostPathRules(), LaunchTool, nullptr});
        FAIL() << "the run went on";
    } catch (const Error& e) {
        const std::string message = e.what();
        const std::string start = "Cannot create file \"" + notADirectory + "\\temp.vdf\". ";
        EXPECT_TRUE(message.starts_with(start)) << message;
        EXPECT_GT(message.size(), start.size()) << "no system text";
        EXPECT_NE(message.back(), '.');
        EXPECT_NE(message.back(), '\n');
    }
    EXPECT_TRUE(Runs().empty());
}

} // namespace
} // namespace quorvil
