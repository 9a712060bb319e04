#pragma once

#include <exception>
#include <functional>
#include <optional>

#include <windows.h>

#include "form_host.h"
#include "launcher.h"
#include "taskbar_progress.h"

namespace quorvil {

// The application object: the hidden top-level window that carries the one task-bar button and
// owns both forms, the event loop, and the one place where an error that escapes a command is shown.
// The forms know it as their FormHost.
class TApplication : public FormHost {
public:
    explicit TApplication(HINSTANCE instance);
    ~TApplication() override;
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    [[nodiscard]] static TApplication* Instance();
    [[nodiscard]] HWND Handle() const override { return handle_; }
    [[nodiscard]] HICON Icon() const override { return icon_; }

    // Creates the main window and the hidden About window, shows the main window with the show
    // command the process was started with and the files its command line names in the queue
    // ("Open with", a drop on the program's icon), and runs the loop until the application ends.
    // --help and --version are shown in a box instead, and so is a refused option (exit code 2).
    int Run(int showCommand);

    // The pending-event processing the launcher calls while it waits: every waiting message is
    // taken and dispatched, and it never blocks. A quit request found here is the main window's
    // to grant: now, or once the run under way has returned.
    void ProcessMessages() override;

    // One message as the loop handles it: Alt+F4 before the window system sees it, then the
    // dialog keys (Tab, Enter, Space) of the form it is for, then the window's own procedure.
    void HandleMessage(MSG& message);

    // Shows the error in the error box, and goes on.
    void ShowException(const std::exception& error) override;

    // What puts the error on screen: the error box by default; tests may read it instead.
    std::function<void(const std::exception& error)> showError;

    // The forms, while they exist (see Forms).
    TForm1* MainForm = nullptr;
    TForm2* AboutForm = nullptr;
    void SetForms(TForm1* main, TForm2* about) override
    {
        MainForm = main;
        AboutForm = about;
    }

    // What every form answers alike: its activation, noted so that a restore from the task-bar
    // button activates the form that was active last, and giving `focus` the keyboard focus; an
    // offer of the activation (WM_MOUSEACTIVATE), declined while another form keeps it (see
    // GiveActivationBack); the busy pointer over it during a run. Nothing for any other message.
    [[nodiscard]] std::optional<LRESULT> FormMessage(HWND form, HWND focus, UINT message, WPARAM wParam,
                                                     LPARAM lParam) override;

    // Minimises the application, its task-bar button and both forms, noting the form that is active
    // now: hiding the forms one by one activates the others on the way.
    void Minimise() override;

    // Gives the activation back to a form (after a box, after a restore) and keeps it there until
    // the user acts, or for half a second: meanwhile an offer of the activation to another form that
    // comes from no click is declined. X window managers, which Wine follows, offer it to the last
    // dialog they know when a box closes or the application is restored, a moment later: the About
    // window would take the keys, under the main window.
    void GiveActivationBack(HWND form) override;

    // The busy-but-usable pointer over the application's windows during a run, shown at once.
    void ShowBusyPointer(bool busy) override;

    // Shows a run's progress on the task-bar button, or takes it away.
    void ShowProgress(double fraction, bool visible) override { taskbar_.Show(handle_, fraction, visible); }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    [[nodiscard]] HWND FormToActivate() const;
    // A form's answer to an offer of the activation (WM_MOUSEACTIVATE): whether it takes it.
    [[nodiscard]] bool TakesActivation(HWND form) const;

    // First made, last gone: COM for the shell's ShellExecuteEx and for the task-bar list.
    LauncherScope launcher_;
    HWND handle_ = nullptr;
    HICON icon_ = nullptr;
    HICON smallIcon_ = nullptr;
    HWND lastActive_ = nullptr;
    HWND restoreTo_ = nullptr; // while minimised
    HWND givenBack_ = nullptr; // until the user's next key or click, or the timer
    bool busyPointer_ = false;
    TaskbarProgress taskbar_;
};

} // namespace quorvil
