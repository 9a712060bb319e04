// The Windows launcher reads the reason our tools leave, and only the reason of the very process it
// started; the shared cases (a reason read, several tools at once) are in launcher_test.cpp.
#include <filesystem>

#include <windows.h>

#include <gtest/gtest.h>

#include "command_line.h"
#include "launcher.h"
#include "report_file.h"
#include "test_support.h"

namespace quorvil {
namespace {

ToolCommand Helper(const std::string& parameters)
{
    return {"Open", test::TestHelper("launch_helper"), parameters, "", ShowMode::normal, true};
}

// The files in the folder where our tools leave their reasons.
int ReasonFiles()
{
    // The system's environment: the C runtime's copy does not see what the launcher set.
    char folder[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA(tool::kReportFolderVariable, folder, sizeof folder);
    if (length == 0 || length >= sizeof folder)
        return -1;
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++count;
    return count;
}

TEST(LauncherWin32, AReasonLeftUnderTheToolsIdByAnEarlierProcessIsNotTaken)
{
    ToolEnd end;
    EXPECT_EQ(LaunchTool(Helper("stale 5 " + QuoteArgument("an earlier process's reason")), {}, &end), 5);
    EXPECT_EQ(end.errorTail, "");
    EXPECT_EQ(DescribeEnd("vdub", 5, end), "vdub ended with exit code 5");
}

TEST(LauncherWin32, AReasonIsRemovedOnceRead)
{
    (void)LaunchTool(Helper("exit 0"), {}); // the folder is made and named for the tools
    const int before = ReasonFiles();
    ASSERT_GE(before, 0) << "the launcher named no folder for reasons";
    ToolEnd end;
    EXPECT_EQ(LaunchTool(Helper("report 2 0 " + QuoteArgument("helper: failed")), {}, &end), 2);
    EXPECT_EQ(end.errorTail, "helper: failed");
    EXPECT_EQ(ReasonFiles(), before);
}

} // namespace
} // namespace quorvil
