// Starts quorvil.exe with tools beside it and converts a queue through its window, as a user would:
// the clips handed over on its command line ("Open with"), a click on "Process Queue", then the
// window closed. The names are read and passed on in UTF-16: any name a user can give.
//   drive_quorvil QUORVIL.EXE FAKE_TOOL.EXE                 the fake tool as both tools, on a clip of its own
//   drive_quorvil QUORVIL.EXE VDUB.EXE SOX.EXE CLIP.AVI...  real tools on real clips, converted where they are
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <windows.h>

// After windows.h, whose types it uses.
#include <shellapi.h>

#include "test_support.h"
#include "wait_for.h"

namespace {

int Fail(const char* what)
{
    std::fprintf(stderr, "drive_quorvil: %s\n", what);
    return 1;
}

// quorvil.exe, ended if the drive fails before its window closes: a program left running would hold
// the test run's output open, and the run would wait for it until its time-out.
class App {
public:
    explicit App(HANDLE process) : process_(process) {}
    App(const App&) = delete;
    App& operator=(const App&) = delete;
    ~App()
    {
        if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_, 1);
            WaitForSingleObject(process_, 5000);
        }
        CloseHandle(process_);
    }
    HANDLE Get() const { return process_; }

private:
    HANDLE process_;
};

} // namespace

int main()
{
    namespace fs = std::filesystem;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || (argc != 3 && argc < 5))
        return Fail("usage: drive_quorvil QUORVIL.EXE FAKE_TOOL.EXE | QUORVIL.EXE VDUB.EXE SOX.EXE CLIP.AVI...");
    const bool real = argc >= 5;
    const quorvil::test::TempDir folder;
    const fs::path app = folder.path() / "quorvil.exe";
    fs::copy_file(argv[1], app);
    fs::copy_file(argv[2], folder.path() / "vdub.exe");
    fs::copy_file(argv[real ? 3 : 2], folder.path() / "sox.exe");
    std::vector<fs::path> clips;
    for (int i = 4; real && i < argc; ++i)
        clips.push_back(fs::absolute(argv[i]));
    if (!real) {
        clips.push_back(folder.path() / "clip.avi");
        quorvil::test::WriteFile(folder / "clip.avi", quorvil::test::AviBytes(1));
    }
    LocalFree(argv);
    const quorvil::test::ScopedEnv log("FAKE_TOOL_LOG", folder / "tools.log");

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + app.wstring() + L"\"";
    for (const fs::path& clip : clips)
        commandLine += L" \"" + clip.wstring() + L"\"";
    if (!CreateProcessW(app.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return Fail("quorvil.exe does not start");
    CloseHandle(process.hThread);
    const App running(process.hProcess);

    // The window exists before its controls do, and is shown only once they all are.
    using quorvil::test::WaitFor;
    HWND form = nullptr;
    HWND list = nullptr;
    HWND process3 = nullptr;
    const bool ready = WaitFor(
        [&] {
            form = FindWindowA("TForm1", "Quorvil");
            if (!form || !IsWindowVisible(form))
                return false;
            list = FindWindowExA(form, nullptr, "LISTBOX", nullptr);
            const HWND panel = FindWindowExA(form, nullptr, "TPanel", nullptr);
            process3 = panel ? FindWindowExA(panel, nullptr, "BUTTON", "Process Queue") : nullptr;
            return list && process3 && IsWindowVisible(process3);
        },
        30000);
    if (!form)
        return Fail("no main window");
    if (!ready)
        return Fail("the window was not shown with its list and \"Process Queue\"");
    // The clips are queued once the window is up (that they are these clips shows when they are converted).
    const auto count = static_cast<LRESULT>(clips.size());
    if (!WaitFor([&] { return SendMessageA(list, LB_GETCOUNT, 0, 0) >= count; }, 10000) ||
        SendMessageA(list, LB_GETCOUNT, 0, 0) != count)
        return Fail("the clips named on the command line are not the queue's entries");
    PostMessageA(process3, BM_CLICK, 0, 0);

    // The fake tool writes known bytes; a real right channel is there once sox renamed it into place.
    const auto converted = [&] {
        if (!real)
            return quorvil::test::ReadFile(folder / "clip.avi_processed\\clip.avi.A2.wav") ==
                   quorvil::test::WavBytes(1, 4);
        for (const fs::path& clip : clips) {
            if (!fs::exists(clip.wstring() + L"_processed\\" + clip.filename().wstring() + L".A2.wav"))
                return false;
        }
        return true;
    };
    if (!WaitFor(converted, 60000))
        return Fail("the queue was not converted");
    PostMessageA(form, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(running.Get(), 20000) != WAIT_OBJECT_0)
        return Fail("quorvil.exe did not end when its window was closed");
    DWORD code = 1;
    GetExitCodeProcess(running.Get(), &code);
    if (fs::exists(folder.path() / "temp.vdf"))
        return Fail("the script was left");
    for (const fs::path& clip : clips) {
        if (!fs::exists(clip))
            return Fail("a source was deleted");
    }
    std::printf("drive_quorvil: quorvil.exe converted a queue through its window and ended with %lu\n", code);
    return code == 0 ? 0 : 1;
}
