#pragma once

#include <functional>
#include <vector>

#include <windows.h>

#include "form_design.h"

namespace quorvil {

// Panel1: a panel without border or caption that holds the buttons and check boxes. Controls
// anchored to its right edge keep their distance to it when it is resized; the others keep their
// place. What its controls say (commands, the pointer over them) goes to the form.
class AnchoredPanel {
public:
    using Forward = std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam)>;

    AnchoredPanel(HWND form, int id, Forward toForm);
    ~AnchoredPanel();
    AnchoredPanel(const AnchoredPanel&) = delete;
    AnchoredPanel& operator=(const AnchoredPanel&) = delete;

    [[nodiscard]] HWND Handle() const { return handle_; }

    // Places a control at its designed place, anchored as designed, for a panel of designWidth.
    void Place(HWND control, RECT place, design::Anchor anchor, int designWidth);

    // Moves and sizes the panel, its right-anchored controls with it, and draws it all anew.
    void SetBounds(int left, int top, int width, int height);

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT ForwardToForm(UINT message, WPARAM wParam, LPARAM lParam) { return toForm_(message, wParam, lParam); }

    struct Anchored {
        HWND control;
        int rightGap;
    };
    HWND handle_ = nullptr;
    Forward toForm_;
    std::vector<Anchored> anchoredRight_;
};

} // namespace quorvil
