#include "Unit2.h"

#include <string>

#include "form_design.h"

namespace quorvil {

namespace {

constexpr char kForm2Class[] = "TForm2";

} // namespace

TForm2::TForm2(FormHost& application) : application_(application)
{
    RegisterClassOnce(kForm2Class, FormWindowProc<TForm2>, nullptr, COLOR_BTNFACE);
    // A dialog frame with a caption and a close box only: no icon, no minimise or maximise box.
    constexpr DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    constexpr DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    RECT outer{0, 0, font_.Scale(design::kAboutClientWidth), font_.Scale(design::kAboutClientHeight)};
    AdjustWindowRectEx(&outer, style, FALSE, exStyle);
    Handle = CreateWindowExA(exStyle, kForm2Class, std::string(design::kAboutCaption).c_str(), style, 0, 0,
                             outer.right - outer.left, outer.bottom - outer.top, application_.Handle(), nullptr,
                             GetModuleHandleA(nullptr), this);

    const auto place = [this](HWND control, const design::Control& designed) {
        const RECT at = font_.Scale(designed.place);
        MoveWindow(control, at.left, at.top, at.right - at.left, at.bottom - at.top, FALSE);
        return control;
    };
    HWND* labels[] = {&Label1, &Label2, &Label3, &Label4};
    for (std::size_t i = 0; i < design::kAboutLabels.size(); ++i) {
        const design::Control& label = design::kAboutLabels[i];
        *labels[i] = place(CreateControl(0, "STATIC", design::LabelText(label).c_str(), SS_LEFTNOWORDWRAP, Handle, -1,
                                         label.kind == design::Kind::boldLabel ? font_.Bold() : font_.Normal()),
                           label);
    }
    // Its id is IDOK, so that Enter on it closes the window as a click does; it is still a plain
    // button, not a default one, with the default look only while it has the focus.
    Button1 = place(CreateControl(0, "BUTTON", std::string(design::kAboutButton1.text).c_str(),
                                  WS_TABSTOP | BS_PUSHBUTTON | BS_NOTIFY, Handle, IDOK, font_.Normal()),
                    design::kAboutButton1);
    defaultLook_ = FocusedButtonDefault(Handle, {Button1});
}

TForm2::~TForm2()
{
    if (Handle)
        DestroyWindow(Handle);
}

void TForm2::ShowAbout()
{
    showing_.Show();
}

void TForm2::PlaceCentred()
{
    CentreOnPrimaryScreen(Handle);
}

void TForm2::Reveal()
{
    ShowWindow(Handle, SW_SHOW);
}

void TForm2::Raise()
{
    SetWindowPos(Handle, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(Handle);
    SetActiveWindow(Handle);
}

void TForm2::FocusOk()
{
    SetFocus(Button1);
}

void TForm2::PaintNow()
{
    UpdateWindow(Handle);
}

void TForm2::Button1Click()
{
    ShowWindow(Handle, SW_HIDE);
}

LRESULT TForm2::Message(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (const std::optional<LRESULT> answer = defaultLook_.FormMessage(message))
        return *answer;
    // The OK button has the focus whenever the window becomes active.
    if (const auto answer = application_.FormMessage(Handle, Button1, message, wParam, lParam))
        return *answer;
    switch (message) {
    case WM_COMMAND:
        // OK clicked, or Enter while it has the focus; Esc (IDCANCEL) does nothing.
        if (!defaultLook_.Notified(reinterpret_cast<HWND>(lParam), HIWORD(wParam)) && LOWORD(wParam) == IDOK &&
            HIWORD(wParam) == BN_CLICKED)
            Button1Click();
        return 0;
    case WM_CLOSE:
        Button1Click(); // the close box hides the window; it lives until the application ends
        return 0;
    case WM_CTLCOLORSTATIC:
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    default:
        break;
    }
    return DefWindowProcA(Handle, message, wParam, lParam);
}

} // namespace quorvil
