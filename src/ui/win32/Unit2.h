#pragma once

#include <windows.h>

#include "form_support.h"

namespace quorvil {

// The About window: modeless, one for the application's run, hidden rather than closed.
class TForm2 {
public:
    explicit TForm2(HWND owner);
    ~TForm2();
    TForm2(const TForm2&) = delete;
    TForm2& operator=(const TForm2&) = delete;

    HWND Handle = nullptr;
    HWND Label1 = nullptr;
    HWND Label2 = nullptr;
    HWND Label3 = nullptr;
    HWND Label4 = nullptr;
    HWND Button1 = nullptr;

    // Shows the window (or only raises it when it is up already) and gives OK the focus.
    void ShowAbout();
    void Button1Click();

private:
    template <class Form> friend LRESULT CALLBACK FormWindowProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam);
    // The steps of ShowAbout.
    void PlaceAtFirstShowing();
    void BringToFront();

    FormFont font_;
    FocusedButtonDefault defaultLook_{};
    bool shownBefore_ = false;
};

} // namespace quorvil
