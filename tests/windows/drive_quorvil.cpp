// Starts quorvil.exe with tools beside it and converts a queue through its window, as a user would:
// the clip handed over on its command line ("Open with"), a click on "Process Queue", then the
// window closed.
//   drive_quorvil QUORVIL.EXE FAKE_TOOL.EXE             the fake tool as both tools, on a clip of its own
//   drive_quorvil QUORVIL.EXE VDUB.EXE SOX.EXE CLIP.AVI  real tools on a real clip, converted where it is
#include <cstdio>
#include <filesystem>
#include <string>

#include <windows.h>

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

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 5)
        return Fail("usage: drive_quorvil QUORVIL.EXE FAKE_TOOL.EXE | QUORVIL.EXE VDUB.EXE SOX.EXE CLIP.AVI");
    const bool real = argc == 5;
    const quorvil::test::TempDir folder;
    const std::string app = folder / "quorvil.exe";
    std::filesystem::copy_file(argv[1], app);
    std::filesystem::copy_file(argv[2], folder / "vdub.exe");
    std::filesystem::copy_file(argv[real ? 3 : 2], folder / "sox.exe");
    const std::string clip = real ? std::filesystem::absolute(argv[4]).string() : folder / "clip.avi";
    if (!real)
        quorvil::test::WriteFile(clip, quorvil::test::AviBytes(1));
    const quorvil::test::ScopedEnv log("FAKE_TOOL_LOG", folder / "tools.log");

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string commandLine = "\"" + app + "\" \"" + clip + "\"";
    if (!CreateProcessA(app.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
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
    // The clip is queued once the window is up (that it is this clip shows when it is converted).
    if (!WaitFor([&] { return SendMessageA(list, LB_GETCOUNT, 0, 0) > 0; }, 10000) ||
        SendMessageA(list, LB_GETCOUNT, 0, 0) != 1)
        return Fail("the clip named on the command line is not the queue's one entry");
    PostMessageA(process3, BM_CLICK, 0, 0);

    const std::string output = clip + "_processed\\" + std::filesystem::path(clip).filename().string() + ".A2.wav";
    // The fake tool writes known bytes; a real right channel is there once sox renamed it into place.
    const auto converted = [&] {
        return real ? std::filesystem::exists(output)
                    : quorvil::test::ReadFile(output) == quorvil::test::WavBytes(1, 4);
    };
    if (!WaitFor(converted, 60000))
        return Fail("the queue was not converted");
    PostMessageA(form, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(running.Get(), 20000) != WAIT_OBJECT_0)
        return Fail("quorvil.exe did not end when its window was closed");
    DWORD code = 1;
    GetExitCodeProcess(running.Get(), &code);
    if (std::filesystem::exists(folder / "temp.vdf") || !std::filesystem::exists(clip))
        return Fail("the script was left, or the source deleted");
    std::printf("drive_quorvil: quorvil.exe converted a queue through its window and ended with %lu\n", code);
    return code == 0 ? 0 : 1;
}
