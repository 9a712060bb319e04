// LaunchTool on either platform, against the launch_helper program.
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "command_line.h"
#include "launcher.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::ReadFile;
using test::TempDir;

ToolCommand Helper(const std::string& parameters, bool wait = true)
{
    return {"Open", test::TestHelper("launch_helper"), parameters, "", ShowMode::normal, wait};
}

TEST(Launcher, ReturnsTheExitCode)
{
    EXPECT_EQ(LaunchTool(Helper("exit 3"), {}), 3);
    ToolCommand hidden = Helper("exit 0");
    hidden.showMode = ShowMode::hidden;
    EXPECT_EQ(LaunchTool(hidden, {}), 0);
}

TEST(Launcher, TheHookIsFirstCalledAfterAFullWaitNeverBefore)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    Clock::duration firstHook{};
    int hooks = 0;
    EXPECT_EQ(LaunchTool(Helper("sleep 300"),
                         [&] {
                             if (hooks++ == 0)
                                 firstHook = Clock::now() - start;
                         }),
              0);
    ASSERT_GT(hooks, 0);
    // A lower bound only: a hook before the first wait comes at once, however fast the machine is.
    EXPECT_GE(firstHook, std::chrono::milliseconds(95));
}

TEST(Launcher, MissingProgramGivesMinusOneWithoutWaiting)
{
    int hooks = 0;
    ToolCommand missing = Helper("/s x");
    missing.programFile = (TempDir().path() / "no-such-tool").string();
    EXPECT_EQ(LaunchTool(missing, [&] { ++hooks; }), -1);
    EXPECT_EQ(hooks, 0);
}

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

TEST(Launcher, TheToolReadsQuotedArgumentsBack)
{
    // The tool's own runtime (or, on POSIX, our split) reads what QuoteArgument joined.
    const TempDir dir;
    const std::string out = dir / "args";
    std::mt19937 random(1207);
    const std::string alphabet = "\\\\\\\"\"  \tab:.'%^&|<>$`*";
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
        ASSERT_EQ(LaunchTool(Helper(parameters), {}), 0);
        ASSERT_EQ(ReadFile(out), expected) << parameters;
    }
}

TEST(Launcher, TheReasonOurToolsReportIsReadOnceAndTheNextToolEndsWithItsExitCodeAlone)
{
    ToolEnd end;
    EXPECT_EQ(LaunchTool(Helper("report 3 0 " + QuoteArgument("helper: the input is gone")), {}, &end), 3);
    EXPECT_EQ(DescribeEnd("sox", 3, end), "sox ended with exit code 3 (helper: the input is gone)");
    // A tool that says nothing, as VirtualDub and SoX say nothing our launcher reads on Windows.
    ToolEnd next;
    EXPECT_EQ(LaunchTool(Helper("exit 4"), {}, &next), 4);
    EXPECT_EQ(DescribeEnd("vdub", 4, next), "vdub ended with exit code 4");
}

TEST(Launcher, ToolsRunningAtOnceEachGetTheirOwnReason)
{
    constexpr int kTools = 4;
    std::vector<std::thread> threads;
    std::vector<ToolEnd> ends(kTools);
    std::vector<std::int32_t> codes(kTools);
    for (int i = 0; i < kTools; ++i)
        // The first one started ends last.
        threads.emplace_back([i, &ends, &codes] {
            codes[i] = LaunchTool(Helper("report " + std::to_string(10 + i) + " " + std::to_string(400 - 100 * i) +
                                         " " + QuoteArgument("tool " + std::to_string(i) + " failed")),
                                  {}, &ends[i]);
        });
    for (auto& thread : threads)
        thread.join();
    for (int i = 0; i < kTools; ++i) {
        EXPECT_EQ(codes[i], 10 + i);
        EXPECT_EQ(ends[i].errorTail, "tool " + std::to_string(i) + " failed");
    }
}

// What an event hook throws to stop a run.
struct Stop : std::exception {};

// Whether LaunchTool left by Stop; skips the test where the helper could not be asked at all (on
// Windows, it asks through a window, which Wine makes only with a display).
#define EXPECT_STOPPED(launch, file)                                                                                   \
    do {                                                                                                               \
        bool stopped = false;                                                                                          \
        try {                                                                                                          \
            (void)(launch);                                                                                            \
        } catch (const Stop&) {                                                                                        \
            stopped = true;                                                                                            \
        }                                                                                                              \
        if (ReadFile(file).starts_with("no window"))                                                                   \
            GTEST_SKIP() << "no display here to make a window on";                                                     \
        EXPECT_TRUE(stopped);                                                                                          \
    } while (false)

TEST(Launcher, AToolIsAskedToEndBeforeItIsMadeToWhenTheHookThrows)
{
    const TempDir dir;
    const std::string answer = dir / "answer";
    // Thrown once the tool can be asked: a tool that has not set itself up yet is simply ended.
    const auto stopWhenReady = [&] {
        if (ReadFile(answer) == "ready")
            throw Stop();
    };
    ToolCommand command = Helper("until-asked 20000 " + QuoteArgument(answer));
    command.showMode = ShowMode::hidden; // what it says as it ends is read, not shown
    EXPECT_STOPPED(LaunchTool(command, stopWhenReady), answer);
    EXPECT_EQ(ReadFile(answer), "asked"); // it was asked, and had the time to answer
}

TEST(Launcher, TheWindowAnswersWhileAToolThatIgnoresTheRequestIsGivenItsTime)
{
    const TempDir dir;
    const std::string ready = dir / "ready";
    int hooksAfterStop = -1;
    const auto hook = [&] {
        if (hooksAfterStop >= 0)
            ++hooksAfterStop;
        else if (ReadFile(ready) == "ready")
            hooksAfterStop = 0;
        // Thrown again while the tool is given its time: set aside.
        if (hooksAfterStop >= 0 && hooksAfterStop < 2)
            throw Stop();
    };
    EXPECT_STOPPED(LaunchTool(Helper("ignore-ask 20000 " + QuoteArgument(ready)), hook), ready);
    // Called through the 3 s, not only until the first throw; then the tool was made to end.
    EXPECT_GE(hooksAfterStop, 5);
}

TEST(Launcher, AMissingToolAndAMissingFolderToRunItInAreToldApart)
{
    const TempDir dir;
    ToolCommand missingTool = Helper("exit 0");
    missingTool.programFile = dir / test::ProgramName("no-such-tool");
    ToolCommand missingFolder = Helper("exit 0");
    missingFolder.directory = dir / "no-such-folder";
    const struct {
        const ToolCommand& command;
        std::string text;
    } rows[] = {
        {missingTool, "tool was not found"},
        {missingFolder,
         "tool could not be started: the folder it was to run in, " + missingFolder.directory + ", was not found"},
    };
    for (const auto& row : rows) {
        ToolEnd end;
        EXPECT_EQ(LaunchTool(row.command, {}, &end), -1);
        EXPECT_EQ(DescribeEnd("tool", -1, end), row.text);
    }
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
