#pragma once

namespace quorvil {

// What the About window's showing needs of its window; each front end answers with its toolkit.
class AboutView {
public:
    virtual void PlaceCentred() = 0; // on the primary screen
    virtual void Reveal() = 0;       // shown, or kept shown
    virtual void Raise() = 0;        // on top of the application's windows, and active
    virtual void FocusOk() = 0;
    virtual void PaintNow() = 0; // drawn before the command returns

protected:
    ~AboutView() = default;
};

// The About window's showing, one window for the application's run: centred at its first showing,
// later ones where the user left it; each time on top, active, with OK focused.
class AboutShowing {
public:
    explicit AboutShowing(AboutView& view) : view_(view) {}
    void Show();

private:
    AboutView& view_;
    bool shownBefore_ = false;
};

} // namespace quorvil
