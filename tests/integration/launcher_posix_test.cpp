// What only the POSIX launcher has to show: reaping, signals, descriptors.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "command_line.h"
#include "launcher.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::ReadFile;
using test::TempDir;

ToolCommand Helper(const std::string& parameters, ShowMode show = ShowMode::normal)
{
    return {"Open", test::TestHelper("launch_helper"), parameters, "", show, true};
}

// No child of this process is left over, running or as a zombie.
bool NoChildrenLeft()
{
    siginfo_t info{};
    return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) < 0 && errno == ECHILD;
}

TEST(LauncherPosix, ReapsItsChild)
{
    EXPECT_EQ(LaunchTool(Helper("exit 3"), [] {}), 3);
    EXPECT_EQ(LaunchTool(Helper("sleep 150"), [] {}), 0);
    EXPECT_TRUE(NoChildrenLeft());
}

TEST(LauncherPosix, AToolStartedWithoutWaitIsReapedWhenItEnds)
{
    ToolCommand command = Helper("exit 0");
    command.wait = false;
    EXPECT_EQ(LaunchTool(command, {}), 0);
    // Its reaper runs on its own: give it up to 5 s to see the end of a tool that ends at once.
    bool reaped = false;
    for (int i = 0; i < 500 && !reaped; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        reaped = NoChildrenLeft();
    }
    EXPECT_TRUE(reaped) << "a zombie is left";
}

TEST(LauncherPosix, HowAToolEndedIsToldInWordsWithItsLastErrorLines)
{
    // The blank lines first are more than a pipe holds: the tool must not stall on them.
    ToolEnd end;
    EXPECT_EQ(LaunchTool(Helper("complain 4 one two three \"four, last\"", ShowMode::hidden), {}, &end), 4);
    EXPECT_EQ(DescribeEnd("vdub", 4, end), "vdub ended with exit code 4 (two / three / four, last)");

    ToolEnd killed;
    EXPECT_EQ(LaunchTool(Helper("kill"), {}, &killed), -1);
    EXPECT_EQ(DescribeEnd("sox", -1, killed), "sox was ended by signal 6");

    ToolEnd missing;
    ToolCommand command = Helper("");
    command.programFile = "/nonexistent/vdub";
    EXPECT_EQ(LaunchTool(command, {}, &missing), -1);
    EXPECT_EQ(DescribeEnd("vdub", -1, missing), "vdub was not found");
}

// Whether a process has ended: gone, or a zombie that nobody has reaped yet.
bool ProcessEnded(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    return text.empty() || (close != std::string::npos && text.substr(close + 2, 1) == "Z");
}

TEST(LauncherPosix, EndingAToolEndsWhatItStartedToo)
{
    const TempDir dir;
    const std::string pidFile = dir / "grandchild";
    EXPECT_THROW((void)LaunchTool(Helper("grandchild " + QuoteArgument(pidFile) + " 20000"),
                                  [&] {
                                      if (!ReadFile(pidFile).empty())
                                          throw std::runtime_error("stop");
                                  }),
                 std::runtime_error);
    const pid_t grandchild = std::stoi(ReadFile(pidFile));
    EXPECT_TRUE(test::WaitUntil([&] { return ProcessEnded(grandchild); }, std::chrono::seconds(5)))
        << "the tool's own child runs on";
    EXPECT_TRUE(NoChildrenLeft());
}

TEST(LauncherPosix, AProgramWhoseInterpreterIsMissingIsNotCalledMissing)
{
    const TempDir dir;
    const std::string script = dir / "tool";
    test::WriteFile(script, "#!/no/such/interpreter\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    ToolCommand command = Helper("");
    command.programFile = script;
    ToolEnd end;
    EXPECT_EQ(LaunchTool(command, {}, &end), -1);
    EXPECT_EQ(DescribeEnd("vdub", -1, end),
              "vdub could not be started: what it needs to run (its interpreter or loader) was not found");
}

TEST(LauncherPosix, ToolEndedBySignalGivesMinusOne)
{
    EXPECT_EQ(LaunchTool(Helper("kill"), {}), -1);
    EXPECT_TRUE(NoChildrenLeft());
}

TEST(LauncherPosix, NoDescriptorLeaksAndAHiddenToolsOutputIsNotShown)
{
    const TempDir dir;
    // A descriptor without close-on-exec, as a careless library might leave one.
    const int leaky = ::open("/dev/zero", O_RDONLY);
    ASSERT_GE(leaky, 3);

    const std::string hiddenList = dir / "hidden";
    EXPECT_EQ(LaunchTool(Helper("fds " + QuoteArgument(hiddenList), ShowMode::hidden), {}), 0);
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
    EXPECT_NE(ReadFile(hiddenList).find("2 pipe:"), std::string::npos); // read for the failure list
}

TEST(LauncherPosix, AWaitedToolReadsNoInputOfQuorvilsOwnAndSoEnds)
{
    // Quorvil's input a pipe that stays open, as a terminal does: a tool given it would wait for ever
    // for its end (the helper gives up after 5 s, with 7).
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    const int ownInput = ::dup(STDIN_FILENO);
    ASSERT_GE(ownInput, 0);
    ::dup2(input[0], STDIN_FILENO);
    std::vector<int> codes;
    for (const ShowMode show : {ShowMode::normal, ShowMode::hidden})
        codes.push_back(LaunchTool(Helper("read-input 5000", show), {}));
    ::dup2(ownInput, STDIN_FILENO);
    for (const int fd : {ownInput, input[0], input[1]})
        ::close(fd);
    EXPECT_EQ(codes, (std::vector<int>{0, 0})) << "7: the tool waited for the end of Quorvil's own input";
}

} // namespace
} // namespace quorvil
