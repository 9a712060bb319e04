// What only Windows shows of a queue run: the host's paths and the command lines the shell passes on.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include "ansi_path_win32.h"
#include "errors.h"
#include "file_ops.h"
#include "host.h"
#include "plan.h"
#include "queue_run.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

class QueueRunWin32Test : public ::testing::Test {
protected:
    QueueRunWin32Test() : log_("FAKE_TOOL_LOG", clips / "tools.log") { test::InstallFakeTools(tools); }

    TempDir tools;
    TempDir clips;
    test::FakeQueue window;

private:
    test::ScopedEnv log_;
};

// A variable of the environment the programs the test starts inherit, in UTF-16 (a folder the code
// page cannot name); put back as it was when the object goes.
struct WideEnv {
    WideEnv(const wchar_t* name, const std::wstring& value) : name(name), old(_wgetenv(name) ? _wgetenv(name) : L"")
    {
        _wputenv_s(name, value.c_str());
    }
    ~WideEnv() { _wputenv_s(name.c_str(), old.c_str()); }
    std::wstring name;
    std::wstring old;
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
    // The system's code page is the user's, for a user's own tools: nothing asks for UTF-8.
    EXPECT_NE(GetACP(), 65001u);
    // The core holds names in UTF-8, where no byte of a letter is a "\\" to be kept from its escape.
    EXPECT_FALSE(HostPathRules().isLeadByte(0x95));
    // A folder the code page cannot name (1252 has no "Ł") is reached as it is, never by a
    // look-alike ("Lukasz") that leads nowhere; a tool not ours is told its short name, which the
    // code page writes.
    const std::wstring lukasz = (tools.path() / L"\u0141ukasz").wstring() + L"\\";
    ASSERT_TRUE(CreateDirectoryW(lukasz.c_str(), nullptr));
    EXPECT_EQ(WhatIsAt(Utf8(lukasz) + "."), NameHolds::somethingElse);
    const std::string told = ScriptFolderFor(tools.dir() + "vdub.exe", Utf8(lukasz));
    EXPECT_TRUE(CodePageName(FromUtf8(told))) << told;
    EXPECT_EQ(WhatIsAt(told + "."), NameHolds::somethingElse) << told;
}

TEST_F(QueueRunWin32Test, TheShellGetsTheToolsCommandLinesAsPlanned)
{
    const std::string a = clips / "take 1.avi";
    test::WriteFile(a, "RIFF");
    window.entries = {a};
    QueueRunner runner({tools.dir(), HostPathRules(), LaunchTool, nullptr, {}});
    runner.RunQueue(window.Access(), {});

    const std::string sub = a + "_processed";
    const auto runs = test::ReadToolLog(clips / "tools.log");
    ASSERT_EQ(runs.size(), 3u);
    const std::string dir = tools.dir();
    EXPECT_EQ(ParametersOf(runs[0].commandLine, dir + "vdub.exe"), "/s \"" + dir + "temp.vdf\" /min");
    EXPECT_EQ(ParametersOf(runs[1].commandLine, dir + "sox.exe"),
              "\"" + a + ".wav\" \"" + sub + "\\take 1.avi.A1.wav\" remix -1");
    EXPECT_EQ(ParametersOf(runs[2].commandLine, dir + "sox.exe"),
              "\"" + a + ".wav\" \"" + sub + "\\take 1.avi.A2.wav\" remix 2");
}

TEST_F(QueueRunWin32Test, ANameInTheSystemCodePageIsConvertedEndToEnd)
{
    // A name in the system's code page (1252, or 1251 where tests/windows/check-code-page runs this):
    // a tool not ours reads the script in the code page, byte for byte as always.
    const struct {
        unsigned codePage;
        std::wstring name;
        std::string bytes; // in the code page
    } rows[] = {
        {1252, L"Gr\u00FC\u00DFe.avi",
         "Gr\xFC\xDF"
         "e.avi"},
        {1251, L"\u0416\u0451\u043B\u0442\u044B\u0439.avi", "\xC6\xB8\xEB\xF2\xFB\xE9.avi"}, // "Жёлтый.avi"
    };
    const auto row =
        std::find_if(std::begin(rows), std::end(rows), [](const auto& r) { return r.codePage == GetACP(); });
    ASSERT_NE(row, std::end(rows)) << "no name for code page " << GetACP();
    const std::string a = clips.dir() + Utf8(row->name);
    std::ofstream(fs::path(FromUtf8(a)), std::ios::binary) << test::AviBytes(1);
    ASSERT_TRUE(StampOf(a).exists);
    window.entries = {a};
    window.deleteOriginal = true;
    QueueRunner runner({tools.dir(), HostPathRules(), LaunchTool, nullptr, {}});
    std::string error;
    try {
        runner.RunQueue(window.Access(), {});
    } catch (const Error& e) {
        error = e.what();
    }
    EXPECT_EQ(error, "");
    EXPECT_FALSE(StampOf(a).exists);
    EXPECT_TRUE(StampOf(a + "_processed\\" + Utf8(row->name) + ".A2.wav").exists);
    const auto runs = test::ReadToolLog(clips / "tools.log");
    ASSERT_FALSE(runs.empty());
    EXPECT_NE(runs[0].script.find("\\\\" + row->bytes + "\",0,0);"), std::string::npos) << runs[0].script;
    EXPECT_FALSE(runs[0].script.starts_with("\xEF\xBB\xBF"));
}

TEST_F(QueueRunWin32Test, AToolNotOursIsGivenNoNameTheCodePageCannotWriteNorItsLookAlikeNorALongPath)
{
    ASSERT_EQ(GetACP(), 1252u) << "Wine runs in another code page here";
    fs::copy_file(QUORVIL_SPLIT, tools.path() / "quorvil-split.exe");
    const struct {
        std::wstring typed;
        std::wstring file;      // what the user meant
        std::wstring lookAlike; // what the 8-bit command line or search would name instead
        std::string says;       // after the name, in the failure list
    } rows[] = {
        {L"\u0101.avi", L"\u0101.avi", L"a.avi", "the tool vdub.exe is not Quorvil's own"}, // "ā": a best fit
        {L"\u0436.avi", L"\u0436.avi", L"b.avi", "the tool vdub.exe is not Quorvil's own"}, // "ж": a "?", a wildcard
        {L"\u0141\u00F3d\u017A.avi", L"\u0141\u00F3d\u017A.avi", L"L\u00F3dz.avi",
         "the tool vdub.exe is not Quorvil's own"}, // "Łódź": "Lódz"
        {L"\u0141*.avi", L"\u0141\u00F3d\u017A.avi", L"L\u00F3dz.avi",
         "the tool vdub.exe is not Quorvil's own"}, // a typed wildcard: "L*.avi"
        // Past MAX_PATH in any temporary folder, never to be told as something at an output's name.
        {L"long\\" + std::wstring(240, L'x') + L".avi", L"long\\" + std::wstring(240, L'x') + L".avi", L"",
         "its path is " + std::to_string((clips.path() / L"long").wstring().size() + 245) + " characters long"},
    };
    fs::create_directory(clips.path() / L"long");
    std::wstring commandLine = L"\"" + (tools.path() / "quorvil-split.exe").wstring() + L"\" --no-subdir --delete";
    for (const auto& row : rows) {
        std::ofstream(clips.path() / row.file, std::ios::binary) << test::AviBytes(1);
        if (!row.lookAlike.empty())
            std::ofstream(clips.path() / row.lookAlike, std::ios::binary) << test::AviBytes(1);
        commandLine += L" \"" + (clips.path() / row.typed).wstring() + L"\"";
    }
    test::WriteFile(clips / "c.avi", test::AviBytes(1));
    commandLine += L" \"" + (clips.path() / "c.avi").wstring() + L"\"";
    // c.avi's records and its tool's reason (read back from there) in folders the code page cannot
    // name either.
    const fs::path profile = clips.path() / L"\u0141ukasz";
    fs::create_directories(profile / L"Temp");
    const WideEnv local(L"LOCALAPPDATA", profile.wstring());
    const WideEnv temp(L"TEMP", (profile / L"Temp").wstring());
    const WideEnv tmp(L"TMP", (profile / L"Temp").wstring());
    const test::ScopedEnv fail("FAKE_FAIL", "right");

    // Through cmd, which leaves wildcards to the program, as a user would type it.
    FILE* run = _wpopen((L"\"" + commandLine + L" 2>&1\"").c_str(), L"rb");
    ASSERT_NE(run, nullptr);
    std::string said(1 << 16, '\0');
    said.resize(std::fread(said.data(), 1, said.size(), run));
    EXPECT_EQ(_pclose(run), 1);
    EXPECT_EQ(test::ReadToolLog(clips / "tools.log").size(), 3u) << "only c.avi's three tools were to run";
    EXPECT_NE(said.find("fake right: failing as asked"), std::string::npos) << said;
    for (const auto& row : rows) {
        EXPECT_NE(GetFileAttributesW((clips.path() / row.file).c_str()), INVALID_FILE_ATTRIBUTES);
        if (!row.lookAlike.empty()) {
            EXPECT_NE(GetFileAttributesW((clips.path() / row.lookAlike).c_str()), INVALID_FILE_ATTRIBUTES);
        }
        EXPECT_NE(said.find(Utf8((clips.path() / row.file).wstring()) + ": " + row.says), std::string::npos) << said;
    }
}

TEST_F(QueueRunWin32Test, AScriptTakesANameNoOtherRunHoldsAndOnlyItIsRemoved)
{
    // What stands at temp.vdf beside the program as a run writes its script, and the name it takes.
    const std::string first = tools / "temp.vdf";
    test::FakeQueue otherWindow{{clips / "other.avi"}};
    std::thread otherRun;
    std::atomic<bool> otherWaits = false;
    std::atomic<bool> otherGoes = false;
    std::string otherError;
    HANDLE kept = INVALID_HANDLE_VALUE;
    const struct {
        const char* what;
        std::function<void()> occupy;
        const char* takes;
        bool firstStays;
    } rows[] = {
        {"a script left by a run that ended", [&] { test::WriteFile(first, "left"); }, "temp.vdf", false},
        {"a program that lets nobody write it",
         [&] {
             test::WriteFile(first, "kept");
             kept = CreateFileA(first.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
         },
         "temp2.vdf", true},
        {"another run, its script written and its video tool yet to read it",
         [&] {
             test::WriteFile(otherWindow.entries[0], test::AviBytes(1));
             otherGoes = false;
             const Launcher held = [&](const ToolCommand& command, const EventHook& hook, ToolEnd* end) {
                 otherWaits = true;
                 (void)test::WaitUntil([&] { return otherGoes.load(); }, std::chrono::seconds(20));
                 return LaunchTool(command, hook, end);
             };
             otherRun = std::thread([&, held] {
                 try {
                     QueueRunner({tools.dir(), HostPathRules(), held, nullptr, {}}).RunQueue(otherWindow.Access(), {});
                 } catch (const Error& e) {
                     otherError = e.what();
                 }
             });
             EXPECT_TRUE(test::WaitUntil([&] { return otherWaits.load(); }, std::chrono::seconds(20)));
         },
         "temp2.vdf", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove(clips / "tools.log");
        window.entries = {clips / (std::to_string(&row - rows) + ".avi")};
        test::WriteFile(window.entries[0], test::AviBytes(1));
        row.occupy();
        QueueRunner runner({tools.dir(), HostPathRules(), LaunchTool, nullptr, {}});
        EXPECT_NO_THROW(runner.RunQueue(window.Access(), {}));
        otherGoes = true;
        if (otherRun.joinable())
            otherRun.join();
        CloseHandle(kept);
        EXPECT_EQ(otherError, "");

        const auto runs = test::ReadToolLog(clips / "tools.log");
        EXPECT_EQ(runs.empty() ? "" : runs[0].args.at(1), tools / row.takes);
        for (const auto& run : runs) { // each video tool read its own run's script
            const std::string source = run.args.at(1) == tools / row.takes ? window.entries[0] : otherWindow.entries[0];
            EXPECT_TRUE(run.tool != "vdub" || run.script.find(EscapeScriptPath(source)) != std::string::npos);
        }
        EXPECT_EQ(fs::exists(first), row.firstStays);
        EXPECT_FALSE(fs::exists(tools / "temp2.vdf"));
        fs::remove(first);
    }
}

TEST_F(QueueRunWin32Test, EveryThreadOfARunOfSeveralJobsStartsItsToolsWithCom)
{
    window.entries = {clips / "a.avi", clips / "b.avi"};
    for (const auto& entry : window.entries)
        test::WriteFile(entry, test::AviBytes(1));
    std::atomic<int> launches{0};
    std::atomic<int> withoutCom{0};
    const Launcher launch = [&](const ToolCommand& command, const EventHook& events, ToolEnd* end) {
        ++launches;
        const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (SUCCEEDED(result))
            CoUninitialize();
        if (result != S_FALSE) // S_FALSE: the thread had it already
            ++withoutCom;
        return LaunchTool(command, events, end);
    };
    QueueRunner runner({tools.dir(), HostPathRules(), launch, nullptr, {}});
    runner.RunQueue(window.Access(), {}, 2);
    EXPECT_EQ(launches, 6);
    EXPECT_EQ(withoutCom, 0);
}

} // namespace
} // namespace quorvil
