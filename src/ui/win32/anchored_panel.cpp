#include "anchored_panel.h"

#include "form_support.h"

namespace quorvil {

namespace {

constexpr char kPanelClass[] = "TPanel";

} // namespace

AnchoredPanel::AnchoredPanel(HWND form, int id, Forward toForm) : toForm_(std::move(toForm))
{
    RegisterClassOnce(kPanelClass, Procedure, nullptr, COLOR_BTNFACE);
    // Its background is painted around its controls, never over them.
    handle_ = CreateControl(WS_EX_CONTROLPARENT, kPanelClass, "", WS_CLIPSIBLINGS | WS_CLIPCHILDREN, form, id, nullptr);
    SetWindowLongPtrA(handle_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

AnchoredPanel::~AnchoredPanel()
{
    if (IsWindow(handle_))
        SetWindowLongPtrA(handle_, GWLP_USERDATA, 0);
}

void AnchoredPanel::Place(HWND control, RECT place, design::Anchor anchor, int designWidth)
{
    MoveWindow(control, place.left, place.top, place.right - place.left, place.bottom - place.top, FALSE);
    if (anchor == design::Anchor::rightBottom)
        anchoredRight_.push_back({control, designWidth - place.right});
}

void AnchoredPanel::SetBounds(int left, int top, int width, int height)
{
    MoveWindow(handle_, left, top, width, height, FALSE);
    for (const Anchored& anchored : anchoredRight_) {
        RECT box;
        GetWindowRect(anchored.control, &box);
        MapWindowPoints(nullptr, handle_, reinterpret_cast<POINT*>(&box), 2);
        MoveWindow(anchored.control, width - anchored.rightGap - (box.right - box.left), box.top, box.right - box.left,
                   box.bottom - box.top, FALSE);
    }
    // Controls that moved leave their old place behind: the panel and all of them are drawn anew.
    RedrawWindow(handle_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
}

LRESULT CALLBACK AnchoredPanel::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<AnchoredPanel*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_COMMAND:
    case WM_SETCURSOR:
        if (self)
            return self->ForwardToForm(message, wParam, lParam);
        break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_NCDESTROY:
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace quorvil
