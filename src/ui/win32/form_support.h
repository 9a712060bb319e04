#pragma once

#include <vector>

#include <windows.h>

#include "form_design.h"

namespace quorvil {

// The forms' font, Tahoma 8 points in the ANSI character set at the screen's resolution, and the
// scaling of the design table by the measured height of "0" in it. Owns its two fonts.
class FormFont {
public:
    FormFont();
    ~FormFont();
    FormFont(const FormFont&) = delete;
    FormFont& operator=(const FormFont&) = delete;

    [[nodiscard]] HFONT Normal() const { return normal_; }
    [[nodiscard]] HFONT Bold() const { return bold_; }
    [[nodiscard]] int TextHeight() const { return textHeight_; }
    [[nodiscard]] int Scale(int designPixels) const;
    [[nodiscard]] RECT Scale(const design::Rect& place) const;

private:
    HFONT normal_ = nullptr;
    HFONT bold_ = nullptr;
    int textHeight_ = 13;
};

// Shows a form centred on the primary screen's work area, never at a negative position.
void CentreOnPrimaryScreen(HWND window);

// Registers a window class of the program the first time it is asked for.
void RegisterClassOnce(const char* name, WNDPROC procedure, HICON icon, int background);

// Creates a child control with the form's font; the control id comes as its menu handle.
HWND CreateControl(DWORD exStyle, const char* windowClass, const char* text, DWORD style, HWND parent, int id,
                   HFONT font);

// The window procedure of a form class: the form object comes with WM_NCCREATE and is kept in the
// window's user data until WM_NCDESTROY; its Message() handles what comes between.
template <class Form> LRESULT CALLBACK FormWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* form = static_cast<Form*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
        form->Handle = window;
    }
    auto* form = reinterpret_cast<Form*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        if (form)
            form->Handle = nullptr;
        return DefWindowProcA(window, message, wParam, lParam);
    }
    if (!form)
        return DefWindowProcA(window, message, wParam, lParam);
    return form->Message(message, wParam, lParam);
}

// Sets the pointer over the application's window under it now, as a mouse move would: the busy
// pointer shows, and goes again, without the user having to move the mouse.
void RefreshPointer();

// While it lives, the application's windows that are visible and enabled are disabled: a modal
// dialog or box is modal over all of them, not only over its owner. Afterwards they are enabled
// again and the window that was active is active again.
class ModalScope {
public:
    ModalScope();
    ~ModalScope();
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

    // The window that was active when the scope began: the owner for the dialog.
    [[nodiscard]] HWND Active() const { return active_; }

private:
    HWND active_;
    std::vector<HWND> disabled_;
};

} // namespace quorvil
