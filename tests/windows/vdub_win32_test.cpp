// Our vdub.exe as a neighbour in a shared folder meets it, under Wine here: its outputs are its own
// from the start, whatever someone put at its coming temporary names.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include <gtest/gtest.h>

#include "command_line.h"
#include "handles_win32.h"
#include "plan.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::ReadFile;
using test::TempDir;
namespace fs = std::filesystem;

TEST(VdubTest, FilesAtItsComingTemporaryNamesAreLeftAlone)
{
    // An AVI the ffmpeg tool made for this test run (windows/vdub-clip).
    const char* clip = std::getenv("VDUB_CLIP");
    ASSERT_TRUE(clip && fs::exists(clip)) << "no clip made";
    const TempDir dir;
    const std::string vdub = dir / "vdub.exe";
    fs::copy_file(VDUB_EXE, vdub);
    fs::copy_file(clip, dir / "in.avi");
    const std::string script = dir / "job.vdf";
    test::WriteFile(script, "VirtualDub.Open(\"" + EscapeScriptPath(dir / "in.avi") + "\");\r\nVirtualDub.SaveWAV(\"" +
                                EscapeScriptPath(dir / "out.wav") + "\");\r\nVirtualDub.SaveCompatibleAVI(\"" +
                                EscapeScriptPath(dir / "out.avi") + "\");\r\nVirtualDub.Close();\r\n");

    // A neighbour who knows the next process id plants files at the names vdub.exe will try first.
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string commandLine = QuoteArgument(vdub) + " /s " + QuoteArgument(script);
    ASSERT_TRUE(CreateProcessA(vdub.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                               nullptr, &startup, &process));
    const UniqueHandle owned(process.hProcess);
    std::vector<std::string> planted;
    for (int n = 0; n < 2; ++n) {
        planted.push_back(".vdub-" + std::to_string(process.dwProcessId) + "-" + std::to_string(n));
        test::WriteFile(dir / planted.back(), "a neighbour's file");
    }
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);

    EXPECT_EQ(code, 0u);
    for (const auto& name : planted)
        EXPECT_EQ(ReadFile(dir / name), "a neighbour's file") << name;
    const std::string sound = ReadFile(dir / "out.wav");
    EXPECT_EQ(sound.substr(0, 4), "RIFF");
    EXPECT_EQ(sound.substr(8, 4), "WAVE");
    EXPECT_GT(sound.size(), 22050u * 4); // one second of 22 050 Hz stereo at least
    EXPECT_EQ(ReadFile(dir / "out.avi").substr(8, 4), "AVI ");
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        const bool expected = name == "vdub.exe" || name == "in.avi" || name == "job.vdf" || name == "out.wav" ||
                              name == "out.avi" || std::find(planted.begin(), planted.end(), name) != planted.end();
        EXPECT_TRUE(expected) << "left behind: " << name;
    }
}

} // namespace
} // namespace quorvil
