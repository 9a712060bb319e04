#pragma once

#include <QRect>

#include "form_design.h"

class QWidget;

namespace quorvil {

// A place of the design table in pixels for a widget's font: scaled by the height of its text.
[[nodiscard]] QRect DesignedPlace(const QWidget* widget, const design::Rect& place);
[[nodiscard]] int DesignedPixels(const QWidget* widget, int designPixels);

// Shows a top-level window centred on the primary screen, its frame included where the window
// manager draws one, and never at a negative position.
void ShowCentred(QWidget* window);

} // namespace quorvil
