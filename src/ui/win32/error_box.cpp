#include "error_box.h"

#include <algorithm>
#include <string>

#include "ansi_path_win32.h"
#include "failure_report.h"
#include "form_design.h"
#include "form_support.h"

namespace quorvil {

namespace {

// The box shows UTF-16: an error's text is in the code page, or in UTF-8 when it names files the
// code page cannot write.
std::wstring Wide(const std::string& text, UINT codePage)
{
    return codePage == CP_UTF8 ? FromUtf8(text) : FromCodePage(text);
}

// The height of a text in the message box's font, wrapped at the width given.
class BoxTextMeasure {
public:
    BoxTextMeasure()
    {
        NONCLIENTMETRICSA metrics{};
        metrics.cbSize = sizeof metrics;
        SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
        font_ = CreateFontIndirectA(&metrics.lfMessageFont);
        dc_ = GetDC(nullptr);
        old_ = SelectObject(dc_, font_);
        TEXTMETRICA text{};
        GetTextMetricsA(dc_, &text);
        lineHeight_ = text.tmHeight;
    }
    ~BoxTextMeasure()
    {
        SelectObject(dc_, old_);
        ReleaseDC(nullptr, dc_);
        DeleteObject(font_);
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
    HFONT font_ = nullptr;
    HDC dc_ = nullptr;
    HGDIOBJ old_ = nullptr;
    int lineHeight_ = 13;
};

// While the box is shown: once it is laid out, and before it is drawn, it is measured, and a text
// that makes it taller than the screen is cut further at the width the box wraps its lines to.
struct Fit {
    const std::exception* error = nullptr;
    UINT codePage = CP_ACP;
    int lines = 0;
    int lineHeight = 0;
    HHOOK hook = nullptr;
};
thread_local Fit fit;

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
    const HDC dc = GetDC(text);
    const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(text, WM_GETFONT, 0, 0)));
    const auto height = [&](const std::wstring& shown) {
        RECT area{0, 0, inner.right - inner.left, 0};
        DrawTextW(dc, shown.c_str(), static_cast<int>(shown.size()), &area,
                  DT_LEFT | DT_EXPANDTABS | DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
        return static_cast<int>(area.bottom);
    };
    const int room = (inner.bottom - inner.top) - over;
    const std::wstring shown =
        Wide(FitErrorBoxText(*fit.error, fit.lines, fit.lineHeight,
                             [&](const std::string& cut) { return height(Wide(cut, fit.codePage)) - room; })
                 .text,
             fit.codePage);
    const int shrink = (inner.bottom - inner.top) - std::min(room, height(shown));
    SelectObject(dc, old);
    ReleaseDC(text, dc);

    SetWindowTextW(text, shown.c_str());
    SetWindowPos(text, nullptr, 0, 0, inner.right - inner.left, inner.bottom - inner.top - shrink,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // What lies below the text (the OK button) moves up with the box's bottom.
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT place;
        GetWindowRect(child, &place);
        if (place.top < inner.bottom)
            continue;
        MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&place), 2);
        SetWindowPos(child, nullptr, place.left, place.top - shrink, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    const int height2 = outer.bottom - outer.top - shrink;
    SetWindowPos(box, nullptr, outer.left, free.top + std::max(0, (int(free.bottom - free.top) - height2) / 2),
                 outer.right - outer.left, height2, SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK WatchForTheBox(int code, WPARAM wParam, LPARAM lParam)
{
    const HHOOK hook = fit.hook;
    if (code == HCBT_ACTIVATE && fit.error) {
        FitToScreen(reinterpret_cast<HWND>(wParam));
        UnhookWindowsHookEx(fit.hook);
        fit = {};
    }
    return CallNextHookEx(hook, code, wParam, lParam);
}

} // namespace

void ShowErrorBox(const std::exception& error, HWND fallbackOwner)
{
    RECT free{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &free, 0);
    const BoxTextMeasure measure;
    const int line = measure.LineHeight();
    // The box's own parts: caption, frame, the margins, the OK button and the space around it.
    const int parts = GetSystemMetrics(SM_CYCAPTION) + 2 * GetSystemMetrics(SM_CYFIXEDFRAME) + 5 * line;
    const int available = free.bottom - free.top;
    // A first cut by the lines' height at a width the box may choose; the box itself is measured
    // once it is laid out (FitToScreen).
    const int width = (free.right - free.left) / 2;
    const UINT codePage = dynamic_cast<const Utf8Error*>(&error) ? CP_UTF8 : CP_ACP;
    const FittedErrorText fitted =
        FitErrorBoxText(error, LinesThatFit(available, line, parts), line, [&](const std::string& text) {
            return measure.Height(Wide(text, codePage), width) + parts - available;
        });

    const ModalScope modal;
    fit = {&error, codePage, fitted.lines, line,
           SetWindowsHookExA(WH_CBT, WatchForTheBox, nullptr, GetCurrentThreadId())};
    MessageBoxW(modal.Active() ? modal.Active() : fallbackOwner, Wide(fitted.text, codePage).c_str(),
                FromUtf8(std::string(design::kErrorBoxCaption)).c_str(), MB_OK | MB_ICONSTOP);
    if (fit.hook)
        UnhookWindowsHookEx(fit.hook);
    fit = {};
}

} // namespace quorvil
