#pragma once

#include <windows.h>

#include "about_form.h"
#include "form_host.h"
#include "form_support.h"

namespace quorvil {

// The About window: modeless, one for the application's run, hidden rather than closed; owned by
// the application's window.
class TForm2 final : private AboutView {
public:
    explicit TForm2(FormHost& application);
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
    void PlaceCentred() override;
    void Reveal() override;
    void Raise() override;
    void FocusOk() override;
    void PaintNow() override;

    FormHost& application_;
    FormFont font_;
    FocusedButtonDefault defaultLook_{};
    AboutShowing showing_{*this};
};

} // namespace quorvil
