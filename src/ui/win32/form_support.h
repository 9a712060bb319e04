#pragma once

#include <initializer_list>
#include <optional>
#include <vector>

#include <windows.h>

#include "form_design.h"

namespace quorvil {

class FormHost;

// The forms' font (design::kFormFont) in the ANSI character set at the screen's resolution, and the
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

// A form's push buttons as a dialog's: the one with the focus has the default look, and Enter
// presses it (the dialog keys ask the form for its default button, DM_GETDEFID); while the focus is
// elsewhere none has it, as no button is a default one. The buttons need BS_NOTIFY to tell the
// form when they gain and lose the focus.
class FocusedButtonDefault {
public:
    // The message the form passes to FollowFocus().
    static constexpr UINT kFollowFocus = WM_APP + 1;

    FocusedButtonDefault() = default;
    FocusedButtonDefault(HWND form, std::initializer_list<HWND> buttons) : form_(form), buttons_(buttons) {}

    // A command notification from a control: a button's BN_SETFOCUS or BN_KILLFOCUS has the look
    // follow the focus once the dialog keys are done (they take the look from every button after
    // they move the focus, and give it back only to a button the form holds directly). Whether it
    // was one of these.
    bool Notified(HWND control, int code);
    // The form's kFollowFocus: the focused button has the look, the others not.
    void FollowFocus() const;
    // The answer to DM_GETDEFID: the focused button, or none.
    [[nodiscard]] LRESULT DefaultId() const;

    // What every form answers alike to DM_GETDEFID and kFollowFocus; nothing for any other message.
    [[nodiscard]] std::optional<LRESULT> FormMessage(UINT message);

private:
    HWND form_ = nullptr;
    std::vector<HWND> buttons_;
};

// Sets the pointer over the application's window under it now, as a mouse move would: the busy
// pointer shows, and goes again, without the user having to move the mouse.
void RefreshPointer();

// While it lives, the application's windows that are visible and enabled are disabled: a modal
// dialog or box is modal over all of them, not only over its owner. Afterwards they are enabled
// again and the application gives the activation back to the window that was active.
class ModalScope {
public:
    explicit ModalScope(FormHost& application);
    ~ModalScope();
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

    // The window that was active when the scope began: the owner for the dialog.
    [[nodiscard]] HWND Active() const { return active_; }

private:
    FormHost& application_;
    HWND active_;
    std::vector<HWND> disabled_;
};

} // namespace quorvil
