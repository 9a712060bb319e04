#pragma once

#include <exception>
#include <optional>

#include <windows.h>

namespace quorvil {

class TForm1;
class TForm2;

// What the forms and their dialogs ask of the application that owns them. The application object
// answers it and is handed to each of them as it is made, so that none reaches up for it.
class FormHost {
public:
    virtual ~FormHost() = default;

    // The application's window, which owns the forms (they have no task-bar button of their own),
    // and its icon.
    [[nodiscard]] virtual HWND Handle() const = 0;
    [[nodiscard]] virtual HICON Icon() const = 0;

    // The forms, while they exist (nullptr, nullptr once they are gone): the application routes
    // its keys, restores and quit requests to them.
    virtual void SetForms(TForm1* main, TForm2* about) = 0;

    // What every form answers alike (its activation, the busy pointer over it); nothing for any
    // other message. `focus` gets the keyboard focus when the form becomes active.
    [[nodiscard]] virtual std::optional<LRESULT> FormMessage(HWND form, HWND focus, UINT message, WPARAM wParam,
                                                             LPARAM lParam) = 0;
    // Minimises the application: its task-bar button and both forms.
    virtual void Minimise() = 0;
    // Gives the activation back to a form after a modal dialog or box.
    virtual void GiveActivationBack(HWND form) = 0;

    // During a run: the error display, the pending-event processing, the busy pointer and the
    // progress on the task-bar button.
    virtual void ShowException(const std::exception& error) = 0;
    virtual void ProcessMessages() = 0;
    virtual void ShowBusyPointer(bool busy) = 0;
    virtual void ShowProgress(double fraction, bool visible) = 0;
};

} // namespace quorvil
