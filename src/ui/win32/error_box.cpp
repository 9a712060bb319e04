#include "error_box.h"

#include <algorithm>
#include <string>

#include "ansi_path_win32.h"
#include "error_box_text.h"
#include "form_design.h"
#include "form_host.h"
#include "form_support.h"

namespace quorvil {

namespace {

// The box shows UTF-16: an error's text is in the code page, or in UTF-8 when it names files the
// code page cannot write.
std::wstring Wide(const std::string& text, UINT codePage)
{
    return codePage == CP_UTF8 ? FromUtf8(text) : FromCodePage(text);
}

// The height of a text in the message box's font (or the font given), wrapped at the width given.
class BoxTextMeasure {
public:
    explicit BoxTextMeasure(HFONT font = nullptr)
    {
        if (!font) {
            NONCLIENTMETRICSA metrics{};
            metrics.cbSize = sizeof metrics;
            SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
            font = owned_ = CreateFontIndirectA(&metrics.lfMessageFont);
        }
        dc_ = GetDC(nullptr);
        old_ = SelectObject(dc_, font);
        TEXTMETRICA text{};
        GetTextMetricsA(dc_, &text);
        lineHeight_ = text.tmHeight;
    }
    ~BoxTextMeasure()
    {
        SelectObject(dc_, old_);
        ReleaseDC(nullptr, dc_);
        if (owned_)
            DeleteObject(owned_);
    }
    BoxTextMeasure(const BoxTextMeasure&) = delete;
    BoxTextMeasure& operator=(const BoxTextMeasure&) = delete;

    [[nodiscard]] int LineHeight() const { return lineHeight_; }

    [[nodiscard]] int Height(const std::wstring& text, int width) const
    {
        RECT box{0, 0, width, 0};
        DrawTextW(dc_, text.c_str(), static_cast<int>(text.size()), &box,
                  DT_LEFT | DT_EXPANDTABS | DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
        return box.bottom;
    }

private:
    HFONT owned_ = nullptr;
    HDC dc_ = nullptr;
    HGDIOBJ old_ = nullptr;
    int lineHeight_ = 13;
};

// While the box is shown: once it has laid itself out, and before it is shown, it is measured,
// and a text that makes it taller than the screen is cut further at the width the box wraps its
// lines to. The box lays itself out as its dialog is initialised (it may be activated halfway,
// before its button is placed), so it is measured when that initialisation returns.
struct Fit {
    const std::exception* error = nullptr;
    UINT codePage = CP_ACP;
    int lines = 0;
    int lineHeight = 0;
    HHOOK hook = nullptr;
};
thread_local Fit fit;

// A part beside the text (the icon) keeps its place in the text's height: at the top, or centred.
void KeepBesideText(HWND part, const RECT& text, int textHeight)
{
    RECT place;
    GetWindowRect(part, &place);
    const int size = static_cast<int>(place.bottom - place.top);
    const int offset = static_cast<int>(place.top - text.top);
    const int spare = static_cast<int>(text.bottom - text.top) - size;
    if (offset < 0 || spare <= 0 || offset > spare)
        return;
    POINT corner{place.left, text.top + MulDiv(offset, std::max(0, textHeight - size), spare)};
    ScreenToClient(GetParent(part), &corner);
    SetWindowPos(part, nullptr, corner.x, corner.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void FitToScreen(HWND box)
{
    const HWND text = GetDlgItem(box, 0xFFFF);
    RECT free{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &free, 0);
    RECT outer;
    RECT inner;
    GetWindowRect(box, &outer);
    if (!text || !GetWindowRect(text, &inner))
        return;
    const int over = (outer.bottom - outer.top) - (free.bottom - free.top);
    if (over <= 0)
        return;
    const BoxTextMeasure measure(reinterpret_cast<HFONT>(SendMessageA(text, WM_GETFONT, 0, 0)));
    const int width = inner.right - inner.left;
    const int room = (inner.bottom - inner.top) - over;
    const std::wstring shown = Wide(
        FitErrorBoxText(*fit.error, fit.lines, fit.lineHeight,
                        [&](const std::string& cut) { return measure.Height(Wide(cut, fit.codePage), width) - room; })
            .text,
        fit.codePage);
    const int textHeight = std::min(room, measure.Height(shown, width));
    const int shrink = (inner.bottom - inner.top) - textHeight;

    SetWindowTextW(text, shown.c_str());
    SetWindowPos(text, nullptr, 0, 0, width, textHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // What lies below the text (the OK button) moves up with the box's bottom; what lies beside it
    // (the icon) keeps its place by the text.
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (child == text)
            continue;
        RECT place;
        GetWindowRect(child, &place);
        if (place.top < inner.bottom) {
            KeepBesideText(child, inner, textHeight);
            continue;
        }
        MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&place), 2);
        SetWindowPos(child, nullptr, place.left, place.top - shrink, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    const int height = outer.bottom - outer.top - shrink;
    SetWindowPos(box, nullptr, outer.left, free.top + std::max(0, (int(free.bottom - free.top) - height) / 2),
                 outer.right - outer.left, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK WatchForTheBox(int code, WPARAM wParam, LPARAM lParam)
{
    const HHOOK hook = fit.hook;
    const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_INITDIALOG && fit.error) {
        FitToScreen(call->hwnd);
        UnhookWindowsHookEx(fit.hook);
        fit = {};
    }
    return CallNextHookEx(hook, code, wParam, lParam);
}

} // namespace

void ShowErrorBox(const std::exception& error, FormHost& application)
{
    RECT free{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &free, 0);
    const BoxTextMeasure measure;
    const int line = measure.LineHeight();
    // The box's own parts: caption, frame, the margins, the OK button and the space around it.
    const int parts = GetSystemMetrics(SM_CYCAPTION) + 2 * GetSystemMetrics(SM_CYFIXEDFRAME) + 5 * line;
    const int available = free.bottom - free.top;
    // A first cut at a width the box may choose; the box itself is measured once it is laid out
    // (FitToScreen).
    const int width = (free.right - free.left) / 2;
    const UINT codePage = dynamic_cast<const Utf8Error*>(&error) ? CP_UTF8 : CP_ACP;
    const FittedErrorText fitted =
        FitErrorBoxText(error, LinesThatFit(available, line, parts), line, [&](const std::string& text) {
            return measure.Height(Wide(text, codePage), width) + parts - available;
        });

    const ModalScope modal(application);
    fit = {&error, codePage, fitted.lines, line,
           SetWindowsHookExA(WH_CALLWNDPROCRET, WatchForTheBox, nullptr, GetCurrentThreadId())};
    MessageBoxW(modal.Active() ? modal.Active() : application.Handle(), Wide(fitted.text, codePage).c_str(),
                FromUtf8(std::string(design::kErrorBoxCaption)).c_str(), MB_OK | MB_ICONSTOP);
    if (fit.hook)
        UnhookWindowsHookEx(fit.hook);
    fit = {};
}

} // namespace quorvil
