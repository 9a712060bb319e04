#include "application.h"

#include <string>

#include <commctrl.h>

#include "Mainfrm.h"
#include "Unit2.h"
#include "ansi_path_win32.h"
#include "error_box.h"
#include "form_design.h"
#include "form_support.h"
#include "forms.h"
#include "shell_files.h"

namespace quorvil {

namespace {

constexpr char kApplicationClass[] = "TApplication";

TApplication* application = nullptr;

// How long a form given the activation back keeps it against offers that come from no click: the
// window manager's come within milliseconds; a click on a frame the window manager draws reaches us
// as such an offer too, and takes the activation once this is over.
constexpr UINT_PTR kGiveBackTimer = 1;
constexpr UINT kGiveBackMs = 500;

} // namespace

TApplication::TApplication(HINSTANCE instance)
{
    application = this;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    icon_ = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(1), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                          GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
    RegisterClassOnce(kApplicationClass, WindowProc, icon_, COLOR_BTNFACE);
    // A top-level window of no size: it carries the task-bar button, titled with the application's
    // title, and owns the forms, which therefore have no button of their own.
    const int x = GetSystemMetrics(SM_CXSCREEN) / 2;
    const int y = GetSystemMetrics(SM_CYSCREEN) / 2;
    handle_ = CreateWindowExA(0, kApplicationClass, std::string(design::kApplicationTitle).c_str(),
                              WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX, x, y, 0, 0,
                              nullptr, nullptr, instance, nullptr);
    SendMessageA(handle_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageA(handle_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    // Every text of ours is UTF-8, the names in it as the user wrote them.
    showError = [this](const std::exception& error) {
        if (dynamic_cast<const Utf8Error*>(&error))
            ShowErrorBox(error, *this);
        else
            ShowErrorBox(Utf8Error(error.what()), *this);
    };
}

TApplication::~TApplication()
{
    if (handle_)
        DestroyWindow(handle_);
    for (HICON icon : {icon_, smallIcon_}) {
        if (icon)
            DestroyIcon(icon);
    }
    application = nullptr;
}

TApplication* TApplication::Instance()
{
    return application;
}

HWND TApplication::FormToActivate() const
{
    for (const HWND form : {restoreTo_, lastActive_}) {
        if (form && IsWindow(form) && IsWindowVisible(form))
            return form;
    }
    return MainForm ? MainForm->Handle : nullptr;
}

LRESULT CALLBACK TApplication::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    TApplication* self = application;
    switch (message) {
    case WM_ACTIVATE:
        // Restored from its task-bar button, or left active by a closed box: the form that was
        // active is active again.
        if (self && LOWORD(wParam) != WA_INACTIVE && self->MainForm) {
            const HWND target = self->FormToActivate();
            if (target && IsWindowEnabled(target))
                self->GiveActivationBack(target);
            return 0;
        }
        break;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_RESTORE && IsIconic(window)) {
            DefWindowProcA(window, message, wParam, lParam);
            if (self && self->MainForm)
                self->GiveActivationBack(self->FormToActivate());
            if (self)
                self->restoreTo_ = nullptr;
            return 0;
        }
        if ((wParam & 0xFFF0) == SC_MINIMIZE && self) {
            self->Minimise();
            return 0;
        }
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            if (self && self->MainForm)
                self->MainForm->RequestEnd();
            return 0;
        }
        break;
    case WM_CLOSE:
        if (self && self->MainForm)
            self->MainForm->RequestEnd();
        return 0;
    case WM_TIMER:
        if (wParam == kGiveBackTimer) {
            KillTimer(window, kGiveBackTimer);
            if (self)
                self->givenBack_ = nullptr;
            return 0;
        }
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void TApplication::ShowBusyPointer(bool busy)
{
    busyPointer_ = busy;
    RefreshPointer();
}

std::optional<LRESULT> TApplication::FormMessage(HWND form, HWND focus, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE)
            return std::nullopt;
        lastActive_ = form;
        SetFocus(focus);
        return 0;
    case WM_MOUSEACTIVATE:
        if (!TakesActivation(form))
            return MA_NOACTIVATE;
        return std::nullopt;
    case WM_SETCURSOR:
        if (!busyPointer_ || LOWORD(lParam) != HTCLIENT)
            return std::nullopt;
        SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_APPSTARTING)));
        return TRUE;
    default:
        return std::nullopt;
    }
}

void TApplication::Minimise()
{
    if (!IsIconic(handle_))
        restoreTo_ = FormToActivate();
    ShowWindow(handle_, SW_MINIMIZE);
}

void TApplication::GiveActivationBack(HWND form)
{
    givenBack_ = form;
    if (!form)
        return;
    SetActiveWindow(form); // and on top of the application's windows
    SetTimer(handle_, kGiveBackTimer, kGiveBackMs, nullptr);
}

bool TApplication::TakesActivation(HWND form) const
{
    if (!givenBack_ || form == givenBack_ || !IsWindow(givenBack_) || !IsWindowVisible(givenBack_) ||
        !IsWindowEnabled(givenBack_))
        return true;
    // A click the system has seen is the user's own choice: its button is down as the message that
    // brought the offer was read, or still now.
    for (const int button : {VK_LBUTTON, VK_RBUTTON, VK_MBUTTON}) {
        if (GetKeyState(button) < 0 || GetAsyncKeyState(button) < 0)
            return true;
    }
    return false;
}

void TApplication::HandleMessage(MSG& message)
{
    switch (message.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
    case WM_NCMBUTTONDOWN:
        givenBack_ = nullptr; // the user acts: what they choose next is theirs
        break;
    default:
        break;
    }
    const HWND root = message.hwnd ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    const bool ours = root && MainForm && (root == MainForm->Handle || (AboutForm && root == AboutForm->Handle));
    // Alt+F4 is the application's shortcut for Quit, from either form, while the main window is
    // enabled (a modal dialog disables it, and then Alt+F4 is the dialog's).
    if (ours && message.message == WM_SYSKEYDOWN && message.wParam == VK_F4 && IsWindowEnabled(MainForm->Handle)) {
        MainForm->RequestEnd();
        return;
    }
    // Tab, Shift+Tab, Enter and Space on the focused button, as in a dialog.
    if (ours && IsDialogMessageA(root, &message))
        return;
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

void TApplication::ProcessMessages()
{
    MSG message;
    bool quit = false;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT)
            quit = true; // consumed: asked for again below, when it is due
        else
            HandleMessage(message);
    }
    if (quit && MainForm)
        MainForm->RequestEnd();
}

void TApplication::ShowException(const std::exception& error)
{
    ReleaseCapture();
    showError(error);
}

int TApplication::Run(int showCommand)
{
    const ShellStart shell = StartFromCommandLine(GetCommandLineW());
    if (shell.start.action != StartArguments::Action::showWindow) {
        const bool refused = shell.start.action == StartArguments::Action::refuse;
        // In UTF-8, as the arguments were read: an unknown option may hold any letter.
        MessageBoxW(nullptr, FromUtf8(shell.start.text).c_str(),
                    FromUtf8(std::string(design::kApplicationTitle)).c_str(),
                    MB_OK | (refused ? MB_ICONSTOP : MB_ICONINFORMATION));
        return refused ? 2 : 0;
    }
    ShowWindow(handle_, SW_SHOWNORMAL); // of no size: only its task-bar button shows
    Forms forms(*this);
    forms.main.Show(showCommand);
    forms.main.AddShellFiles(shell.files);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        HandleMessage(message);
    return 0;
}

} // namespace quorvil
