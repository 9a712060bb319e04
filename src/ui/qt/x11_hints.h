#pragma once

class QWidget;

namespace quorvil {

// Asks an X11 window manager to leave a window out of task bars and pagers (the EWMH states
// _NET_WM_STATE_SKIP_TASKBAR and _SKIP_PAGER, which Qt does not set). Does nothing elsewhere.
void KeepOffTaskBar(QWidget* window);

} // namespace quorvil
