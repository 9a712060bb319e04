#pragma once

#include <windows.h>

namespace quorvil::test {

// Polls until `ready()` holds, for at most `milliseconds`. Under Wine on a fresh X server a window
// can be found before its controls exist or before it is shown: wait for what is needed, never for
// a fixed time.
template <class Ready> bool WaitFor(Ready ready, int milliseconds)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (ready())
            return true;
        if (GetTickCount() - start >= static_cast<DWORD>(milliseconds))
            return false;
        Sleep(20);
    }
}

// A dialog of the system ("#32770") with the caption given, once it is shown with its controls.
inline HWND WaitForDialog(const char* caption, int milliseconds)
{
    HWND dialog = nullptr;
    WaitFor([&] { return (dialog = FindWindowA("#32770", caption)) != nullptr && IsWindowVisible(dialog); },
            milliseconds);
    return dialog && IsWindowVisible(dialog) ? dialog : nullptr;
}

} // namespace quorvil::test
