#include "anchored_panel.h"

namespace quorvil {

void AnchoredPanel::FixAnchors()
{
    for (auto& a : anchored_)
        a.rightGap = width() - a.widget->x() - a.widget->width();
}

void AnchoredPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    for (const auto& a : anchored_)
        a.widget->move(width() - a.rightGap - a.widget->width(), a.widget->y());
}

} // namespace quorvil
