// LaunchTool through ShellExecuteExA and WaitForSingleObject, with a Windows helper program.
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "command_line.h"
#include "file_ops.h"
#include "launcher.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::ReadFile;
using test::TempDir;

std::string Helper() { return ProgramDirectory() + "helpers\\launch_helper.exe"; }

ToolCommand HelperCommand(const std::string& parameters, bool wait = true)
{
    return {"Open", Helper(), parameters, "", SW_SHOWNORMAL_VALUE, wait};
}

TEST(LauncherWin32, ReturnsTheExitCode)
{
    EXPECT_EQ(LaunchTool(HelperCommand("exit 3"), {}), 3);
    ToolCommand hidden = HelperCommand("exit 0");
    hidden.showMode = SW_HIDE_VALUE;
    EXPECT_EQ(LaunchTool(hidden, {}), 0);
}

TEST(LauncherWin32, MissingProgramGivesMinusOneWithoutWaiting)
{
    int hooks = 0;
    const ToolCommand missing{"Open", ProgramDirectory() + "no-such-tool.exe", "/s x", "", SW_HIDE_VALUE, true};
    EXPECT_EQ(LaunchTool(missing, [&] { ++hooks; }), -1);
    EXPECT_EQ(hooks, 0);
}

TEST(LauncherWin32, CallsTheHookWhileTheToolRunsAndReturnsWhenItEnds)
{
    const TempDir dir;
    const std::string marker = dir / "ended";
    int hooks = 0;
    bool endedBeforeAnyHook = false;
    EXPECT_EQ(LaunchTool(HelperCommand("sleep 500 " + QuoteArgument(marker)),
                         [&] {
                             if (hooks++ == 0)
                                 endedBeforeAnyHook = std::filesystem::exists(marker);
                         }),
              0);
    EXPECT_GE(hooks, 2);
    EXPECT_FALSE(endedBeforeAnyHook);
    EXPECT_TRUE(std::filesystem::exists(marker));
}

TEST(LauncherWin32, WithoutWaitReturnsZeroAndTheToolStillRuns)
{
    const TempDir dir;
    const std::string marker = dir / "ended";
    int hooks = 0;
    EXPECT_EQ(LaunchTool(HelperCommand("sleep 200 " + QuoteArgument(marker), false), [&] { ++hooks; }), 0);
    EXPECT_EQ(hooks, 0);
    for (int i = 0; i < 100 && !std::filesystem::exists(marker); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(std::filesystem::exists(marker));
}

TEST(LauncherWin32, TheRuntimeReadsQuotedArgumentsBack)
{
    // The tool's own C runtime splits what QuoteArgument joined: the quoting holds for real.
    const TempDir dir;
    const std::string out = dir / "args";
    std::mt19937 random(1207);
    const std::string alphabet = "\\\\\\\"\"  \tab:.'%^&|<>";
    for (int round = 0; round < 20; ++round) {
        std::string parameters = "args " + QuoteArgument(out);
        std::string expected;
        for (int n = 0; n < 4; ++n) {
            std::string arg;
            for (int k = std::uniform_int_distribution<int>(0, 10)(random); k > 0; --k)
                arg += alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)];
            parameters += " " + QuoteArgument(arg);
            expected += arg + '\0';
        }
        ASSERT_EQ(LaunchTool(HelperCommand(parameters), {}), 0);
        ASSERT_EQ(ReadFile(out), expected) << parameters;
    }
}

} // namespace
} // namespace quorvil
