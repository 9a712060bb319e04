// The Windows launcher reads the reason our tools leave, and only the reason of the very process it
// started; the shared cases (a reason read, several tools at once) are in launcher_test.cpp.
#include <filesystem>
#include <string>
#include <thread>

#include <windows.h>

// After windows.h, whose types they use.
#include <objbase.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "command_line.h"
#include "launcher.h"
#include "report_file.h"
#include "test_files.h"
#include "test_support.h"

namespace quorvil {
namespace {

ToolCommand Helper(const std::string& parameters)
{
    return {"Open", test::TestHelper("launch_helper"), parameters, "", ShowMode::normal, true};
}

// The folder where our tools leave their reasons, as the launcher names it for them.
std::string ReasonFolder()
{
    // The system's environment: the C runtime's copy does not see what the launcher set.
    char folder[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA(kReportFolderVariable, folder, sizeof folder);
    return length == 0 || length >= sizeof folder ? std::string() : std::string(folder, length);
}

TEST(LauncherWin32, AReasonLeftUnderTheToolsIdByAnEarlierProcessIsNotTaken)
{
    ToolEnd end;
    EXPECT_EQ(LaunchTool(Helper("stale 5 " + QuoteArgument("an earlier process's reason")), {}, &end), 5);
    EXPECT_EQ(end.errorTail, "");
    EXPECT_EQ(DescribeEnd("vdub", 5, end), "vdub ended with exit code 5");
    EXPECT_FALSE(std::filesystem::is_empty(ReasonFolder())); // kept by the reason never read
    std::filesystem::remove_all(ReasonFolder());
}

TEST(LauncherWin32, AReasonIsRemovedOnceReadAndTheFolderWithTheLastOne)
{
    (void)LaunchTool(Helper("exit 0"), {}); // the folder is named for the tools
    ASSERT_NE(ReasonFolder(), "") << "the launcher named no folder for reasons";
    for (const bool held : {false, true}) { // by a launch of another run, which it stays for
        const HANDLE other =
            held && CreateDirectoryA(ReasonFolder().c_str(), nullptr)
                ? CreateFileA(ReasonFolder().c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)
                : INVALID_HANDLE_VALUE;
        ToolEnd end;
        EXPECT_EQ(LaunchTool(Helper("report 2 0 " + QuoteArgument("helper: failed")), {}, &end), 2);
        EXPECT_EQ(end.errorTail, "helper: failed");
        EXPECT_EQ(std::filesystem::exists(ReasonFolder()), held);
        if (other != INVALID_HANDLE_VALUE)
            CloseHandle(other);
    }
}

// Whether this thread has COM, apartment-threaded, as the shell wants it: asked again, COM says so.
bool ComReady()
{
    const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(result))
        CoUninitialize();
    return result == S_FALSE;
}

TEST(LauncherWin32, AThreadHasComForTheShellForAsLongAsItHoldsALauncherScope)
{
    std::thread([] {
        EXPECT_FALSE(ComReady());
        {
            const LauncherScope launcher;
            EXPECT_TRUE(ComReady());
        }
        EXPECT_FALSE(ComReady());
    }).join();
}

// A handle to wait on the running program named `name` that `parent` started, or null.
HANDLE ChildNamed(DWORD parent, const char* name)
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return nullptr;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    HANDLE found = nullptr;
    for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID == parent && lstrcmpiA(entry.szExeFile, name) == 0)
            found = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return found;
}

TEST(LauncherWin32, AToolDoesNotOutliveTheProgramThatWaitsForItAndARerunConverts)
{
    const test::TempDir app;
    const test::TempDir clips;
    std::filesystem::copy_file(QUORVIL_SPLIT, app / "quorvil-split.exe");
    test::InstallFakeTools(app);
    test::WriteFile(clips / "a.avi", test::AviBytes(1));
    const test::ScopedEnv log("FAKE_TOOL_LOG", clips / "tools.log");
    const auto split = [&](const std::string& arguments) {
        std::string commandLine = "\"" + (app / "quorvil-split.exe") + "\" --no-subdir " + arguments;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process))
            return process;
        CloseHandle(process.hThread);
        return process;
    };

    PROCESS_INFORMATION first;
    {
        const test::ScopedEnv slow("FAKE_SLEEP_MS", "20000");
        first = split(QuoteArgument(clips / "a.avi"));
    }
    ASSERT_NE(first.hProcess, nullptr);
    ASSERT_TRUE(test::WaitUntil([&] { return !test::ReadFile(clips / "tools.log").empty(); }, std::chrono::seconds(10)))
        << "the video tool did not start";
    const HANDLE tool = ChildNamed(first.dwProcessId, "vdub.exe");
    ASSERT_NE(tool, nullptr);
    // Ended as a program ends when it is killed, or its console closed: nothing of it runs on.
    TerminateProcess(first.hProcess, 1);
    WaitForSingleObject(first.hProcess, INFINITE);
    CloseHandle(first.hProcess);
    EXPECT_EQ(WaitForSingleObject(tool, 10000), WAIT_OBJECT_0) << "the video tool runs on";
    CloseHandle(tool);

    const PROCESS_INFORMATION rerun = split(QuoteArgument(clips / "a.avi"));
    ASSERT_NE(rerun.hProcess, nullptr);
    WaitForSingleObject(rerun.hProcess, INFINITE);
    DWORD code = 99;
    GetExitCodeProcess(rerun.hProcess, &code);
    CloseHandle(rerun.hProcess);
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(std::filesystem::exists(clips / "a.avi.A2.wav"));
}

} // namespace
} // namespace quorvil
