#pragma once

#include <exception>

namespace quorvil {

// The error box: modal over the application's windows, captioned with the application's title,
// one OK button and the stop icon. A text too tall for the screen is cut, by the box's measured
// height, to its first lines and the count of the rest; the whole text is in its details.
void ShowErrorBox(const std::exception& error);

} // namespace quorvil
