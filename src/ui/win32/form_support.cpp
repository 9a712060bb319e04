#include "form_support.h"

#include <algorithm>
#include <string>

#include "form_host.h"
#include "layout.h"

namespace quorvil {

FormFont::FormFont()
{
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    for (const int weight : {FW_NORMAL, FW_BOLD}) {
        const HFONT made =
            CreateFontA(-MulDiv(design::kFormFont.points, dpi, 72), 0, 0, 0, weight, FALSE, FALSE, FALSE, ANSI_CHARSET,
                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                        std::string(design::kFormFont.face).c_str());
        (weight == FW_NORMAL ? normal_ : bold_) = made;
    }
    // The height of "0" in it decides the scaling of every position and size.
    const HGDIOBJ old = SelectObject(screen, normal_);
    SIZE zero{};
    if (GetTextExtentPoint32A(screen, "0", 1, &zero) && zero.cy > 0)
        textHeight_ = zero.cy;
    SelectObject(screen, old);
    ReleaseDC(nullptr, screen);
}

FormFont::~FormFont()
{
    for (const HFONT made : {normal_, bold_}) {
        if (made)
            DeleteObject(made);
    }
}

int FormFont::Scale(int designPixels) const
{
    return ScaleForText(designPixels, textHeight_);
}

RECT FormFont::Scale(const design::Rect& place) const
{
    const design::Rect scaled = ScaleForText(place, textHeight_);
    return {scaled.left, scaled.top, scaled.right(), scaled.top + scaled.height};
}

void CentreOnPrimaryScreen(HWND window)
{
    RECT free{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &free, 0);
    RECT box;
    GetWindowRect(window, &box);
    const int width = box.right - box.left;
    const int height = box.bottom - box.top;
    SetWindowPos(window, nullptr, std::max(free.left, free.left + (free.right - free.left - width) / 2),
                 std::max(free.top, free.top + (free.bottom - free.top - height) / 2), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void RegisterClassOnce(const char* name, WNDPROC procedure, HICON icon, int background)
{
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExA(GetModuleHandleA(nullptr), name, &existing))
        return;
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hIcon = icon;
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(background + 1));
    windowClass.lpszClassName = name;
    RegisterClassExA(&windowClass);
}

HWND CreateControl(DWORD exStyle, const char* windowClass, const char* text, DWORD style, HWND parent, int id,
                   HFONT font)
{
    const HWND control =
        CreateWindowExA(exStyle, windowClass, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
}

bool FocusedButtonDefault::Notified(HWND control, int code)
{
    if ((code != BN_SETFOCUS && code != BN_KILLFOCUS) ||
        std::find(buttons_.begin(), buttons_.end(), control) == buttons_.end())
        return false;
    PostMessageA(form_, kFollowFocus, 0, 0);
    return true;
}

void FocusedButtonDefault::FollowFocus() const
{
    const HWND focus = GetFocus();
    for (const HWND button : buttons_) {
        const bool look = button == focus;
        const auto style = static_cast<DWORD>(GetWindowLongPtrA(button, GWL_STYLE));
        // The other button styles (BS_NOTIFY) are given again: some versions replace them all.
        if (((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) != look)
            SendMessageA(button, BM_SETSTYLE,
                         (style & 0xFFFF & ~BS_TYPEMASK) | (look ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), TRUE);
    }
}

LRESULT FocusedButtonDefault::DefaultId() const
{
    const HWND focus = GetFocus();
    if (!focus || std::find(buttons_.begin(), buttons_.end(), focus) == buttons_.end())
        return 0;
    return MAKELRESULT(GetDlgCtrlID(focus), DC_HASDEFID);
}

std::optional<LRESULT> FocusedButtonDefault::FormMessage(UINT message)
{
    switch (message) {
    case DM_GETDEFID:
        return DefaultId();
    case kFollowFocus:
        FollowFocus();
        return 0;
    default:
        return std::nullopt;
    }
}

void RefreshPointer()
{
    POINT at{};
    GetCursorPos(&at);
    const HWND under = WindowFromPoint(at);
    if (!under || GetWindowThreadProcessId(under, nullptr) != GetCurrentThreadId())
        return;
    const auto hit = static_cast<WORD>(SendMessageA(under, WM_NCHITTEST, 0, MAKELPARAM(at.x, at.y)));
    SendMessageA(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under), MAKELPARAM(hit, WM_MOUSEMOVE));
}

ModalScope::ModalScope(FormHost& application) : application_(application), active_(GetActiveWindow())
{
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM list) -> BOOL {
            if (IsWindowVisible(window) && IsWindowEnabled(window))
                reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&disabled_));
    for (const HWND window : disabled_)
        EnableWindow(window, FALSE);
}

ModalScope::~ModalScope()
{
    for (const HWND window : disabled_) {
        if (IsWindow(window))
            EnableWindow(window, TRUE);
    }
    if (active_ && IsWindow(active_) && IsWindowVisible(active_))
        application_.GiveActivationBack(active_);
}

} // namespace quorvil
