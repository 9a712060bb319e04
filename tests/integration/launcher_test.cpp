#include <chrono>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "command_line.h"
#include "launcher.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::ReadFile;
using test::TempDir;

ToolCommand Helper(const std::string& parameters, bool wait = true, std::uint16_t show = SW_SHOWNORMAL_VALUE)
{
    return {"Open", LAUNCH_HELPER, parameters, "", show, wait};
}

// No child of this process is left over, running or as a zombie.
bool NoChildrenLeft()
{
    siginfo_t info{};
    return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) < 0 && errno == ECHILD;
}

TEST(Launcher, ReturnsTheExitCode)
{
    int hooks = 0;
    EXPECT_EQ(LaunchTool(Helper("exit 3"), [&] { ++hooks; }), 3);
    EXPECT_EQ(LaunchTool(Helper("exit 0"), {}), 0);
    EXPECT_TRUE(NoChildrenLeft());
}

TEST(Launcher, MissingProgramGivesMinusOneWithoutWaiting)
{
    int hooks = 0;
    const ToolCommand missing{"Open", "/nonexistent/vdub", "/s x", "", SW_HIDE_VALUE, true};
    EXPECT_EQ(LaunchTool(missing, [&] { ++hooks; }), -1);
    EXPECT_EQ(hooks, 0);
    EXPECT_TRUE(NoChildrenLeft());
}

TEST(Launcher, ToolKilledBySignalGivesMinusOne) { EXPECT_EQ(LaunchTool(Helper("kill"), {}), -1); }

TEST(Launcher, CallsTheHookWhileTheToolRunsAndReturnsWhenItEnds)
{
    const TempDir dir;
    const std::string marker = dir / "ended";
    int hooks = 0;
    bool endedBeforeAnyHook = false;
    EXPECT_EQ(LaunchTool(Helper("sleep 500 " + QuoteArgument(marker)),
                         [&] {
                             if (hooks++ == 0)
                                 endedBeforeAnyHook = std::filesystem::exists(marker);
                         }),
              0);
    EXPECT_GE(hooks, 2);
    EXPECT_FALSE(endedBeforeAnyHook);
    EXPECT_TRUE(std::filesystem::exists(marker)); // the caller goes on only after the tool has ended
    EXPECT_TRUE(NoChildrenLeft());
}

TEST(Launcher, WithoutWaitReturnsZeroAndTheToolStillRuns)
{
    const TempDir dir;
    const std::string marker = dir / "ended";
    int hooks = 0;
    EXPECT_EQ(LaunchTool(Helper("sleep 200 " + QuoteArgument(marker), false), [&] { ++hooks; }), 0);
    EXPECT_EQ(hooks, 0);
    for (int i = 0; i < 100 && !std::filesystem::exists(marker); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(std::filesystem::exists(marker));
}

TEST(Launcher, PassesArgumentsWithoutAShell)
{
    const TempDir dir;
    const std::string out = dir / "args";
    const std::vector<std::string> nasty = {"arg 1", "\"arg3'^! $PATH %PATH% \\", "a\\\\\"b", "", "*", "`id`;|&>x"};
    std::string parameters = "args " + QuoteArgument(out);
    std::string expected;
    for (const auto& arg : nasty) {
        parameters += " " + QuoteArgument(arg);
        expected += arg + '\0';
    }
    EXPECT_EQ(LaunchTool(Helper(parameters), {}), 0);
    EXPECT_EQ(ReadFile(out), expected);
}

TEST(Launcher, NoDescriptorLeaksAndHiddenOutputGoesNowhere)
{
    const TempDir dir;
    // A descriptor without close-on-exec, as a careless library might leave one.
    const int leaky = ::open("/dev/zero", O_RDONLY);
    ASSERT_GE(leaky, 3);

    const std::string hiddenList = dir / "hidden";
    EXPECT_EQ(LaunchTool(Helper("fds " + QuoteArgument(hiddenList), true, SW_HIDE_VALUE), {}), 0);
    const std::string normalList = dir / "normal";
    EXPECT_EQ(LaunchTool(Helper("fds " + QuoteArgument(normalList)), {}), 0);
    ::close(leaky);

    // The helper lists its own directory descriptor too, which is the only extra one allowed.
    for (const auto& list : {ReadFile(hiddenList), ReadFile(normalList)}) {
        std::istringstream lines(list);
        std::string fd;
        std::string target;
        while (lines >> fd >> target) {
            if (std::stoi(fd) > 2) {
                EXPECT_TRUE(target.starts_with("/proc/")) << fd << " " << target;
            }
        }
    }
    EXPECT_NE(ReadFile(hiddenList).find("1 /dev/null"), std::string::npos);
    EXPECT_NE(ReadFile(hiddenList).find("2 /dev/null"), std::string::npos);
}

TEST(Launcher, WorkingDirectory)
{
    const TempDir dir;
    ToolCommand command = Helper("args relative.out x");
    command.directory = dir.path().string();
    EXPECT_EQ(LaunchTool(command, {}), 0);
    EXPECT_EQ(ReadFile(dir / "relative.out"), std::string("x\0", 2));
}

} // namespace
} // namespace quorvil
