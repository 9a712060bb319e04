#include "Unit2.h"

namespace quorvil {

namespace {

constexpr char kForm2Class[] = "TForm2";
constexpr int kOk = 301; // not IDOK: Enter presses OK only while it has the focus

} // namespace

TForm2::TForm2(HWND owner) : font_(CreateFormFont())
{
    TApplication* app = TApplication::Instance();
    RegisterClassOnce(kForm2Class, FormWindowProc<TForm2>, nullptr, COLOR_BTNFACE);
    const auto s = [this](int designPixels) { return font_.Scale(designPixels); };
    // A dialog frame with a caption and a close box only: no icon, no minimise or maximise box.
    constexpr DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    constexpr DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    RECT outer{0, 0, s(332), s(186)};
    AdjustWindowRectEx(&outer, style, FALSE, exStyle);
    Handle = CreateWindowExA(exStyle, kForm2Class, "About", style, 0, 0, outer.right - outer.left,
                             outer.bottom - outer.top, owner, nullptr, app->instance(), this);

    const auto child = [&](const char* windowClass, const char* text, DWORD extra, int x, int y, int w, int h, int id,
                           HFONT font) {
        const HWND control =
            CreateWindowExA(0, windowClass, text, WS_CHILD | WS_VISIBLE | extra, s(x), s(y), s(w), s(h), Handle,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), app->instance(), nullptr);
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        return control;
    };
    Label1 = child("STATIC", "Quorvil " QUORVIL_VERSION, SS_LEFTNOWORDWRAP, 16, 16, 310, 16, -1, font_.bold);
    Label2 = child("STATIC", "Splits an avi file into video, left audio and right audio.", SS_LEFTNOWORDWRAP, 16, 40,
                   310, 16, -1, font_.normal);
    Label3 = child("STATIC", "Written by the Quorvil team for its users.", SS_LEFTNOWORDWRAP, 16, 80, 310, 16, -1,
                   font_.normal);
    Label4 = child("STATIC", "https://quorvil.example/", SS_LEFTNOWORDWRAP, 16, 96, 310, 16, -1, font_.normal);
    Button1 = child("BUTTON", "OK", WS_TABSTOP | BS_PUSHBUTTON, 248, 152, 75, 25, kOk, font_.normal);
}

TForm2::~TForm2()
{
    if (Handle) {
        SetWindowLongPtrA(Handle, GWLP_USERDATA, 0);
        DestroyWindow(Handle);
    }
    DeleteFormFont(font_);
}

void TForm2::ShowAbout()
{
    // Centred on the primary screen at the first showing; later showings keep the place it had.
    if (!shownBefore_)
        CentreOnPrimaryScreen(Handle);
    shownBefore_ = true;
    ShowWindow(Handle, SW_SHOW);
    SetWindowPos(Handle, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(Handle);
    SetActiveWindow(Handle);
    SetFocus(Button1);
}

void TForm2::Button1Click()
{
    ShowWindow(Handle, SW_HIDE);
}

LRESULT TForm2::Message(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == kOk)
            Guarded([this] { Button1Click(); });
        return 0; // Esc (IDCANCEL) does nothing
    case WM_CLOSE:
        Button1Click(); // the close box hides the window; it lives until the application ends
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) {
            SetFocus(Button1);
            return 0;
        }
        break;
    case WM_SETCURSOR: {
        TForm1* main = TApplication::Instance()->MainForm;
        if (main && main->RunUnderWay() && LOWORD(lParam) == HTCLIENT) {
            SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_APPSTARTING)));
            return TRUE;
        }
        break;
    }
    case WM_CTLCOLORSTATIC:
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    default:
        break;
    }
    return DefWindowProcA(Handle, message, wParam, lParam);
}

} // namespace quorvil
