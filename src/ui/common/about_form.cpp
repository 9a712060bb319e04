#include "about_form.h"

namespace quorvil {

void AboutShowing::Show()
{
    if (!shownBefore_)
        view_.PlaceCentred();
    shownBefore_ = true;
    view_.Reveal();
    view_.Raise();
    view_.FocusOk();
    // Shown from inside a run's wait, the window would otherwise get its first paint only at the
    // wait's next turn, or the one after.
    view_.PaintNow();
}

} // namespace quorvil
