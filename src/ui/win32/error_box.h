#pragma once

#include <exception>

#include <windows.h>

namespace quorvil {

class FormHost;

// The error box (MessageBoxW): captioned with the application's title, one OK button and the stop
// icon, modal over all of the application's windows; afterwards the window that was active is
// active again. A text too tall for the screen is cut to its first lines and the count of the rest,
// by the height of its lines in the box's measured font. A Utf8Error's text is read as UTF-8, any
// other in the system's code page. Owned by the active window, or else by the application's.
void ShowErrorBox(const std::exception& error, FormHost& application);

} // namespace quorvil
