#include "ask_to_end.h"

#include <fstream>

#include <windows.h>

namespace {

struct Answer {
    std::string file;
    bool answer;
    bool asked = false;
};

Answer* current = nullptr;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) {
        if (current && current->answer) {
            current->asked = true;
            std::ofstream(current->file) << "asked";
            DestroyWindow(window);
            PostQuitMessage(0);
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

int WaitToBeAskedToEnd(int ms, const std::string& file, bool answer)
{
    Answer state{file, answer};
    current = &state;
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "AskToEndHelper";
    RegisterClassA(&windowClass);
    // Top-level and never shown, as a tool's window may be while it works.
    if (!CreateWindowExA(0, "AskToEndHelper", "helper", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                         windowClass.hInstance, nullptr)) {
        std::ofstream(file) << "no window: " << GetLastError();
        return 2;
    }
    std::ofstream(file) << "ready";
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(ms);
    while (!state.asked && GetTickCount64() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    }
    return state.asked ? 0 : 1;
}

bool LeaveAGrandchild(const std::string& /*file*/)
{
    return false;
}
