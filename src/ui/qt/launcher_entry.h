#pragma once

namespace quorvil {

// A run's progress on the application's entry in the desktop's launcher or task bar (the
// launcher-entry D-Bus signal that KDE Plasma, Ubuntu's dock and others read). Without a session
// bus nothing is sent.
void ShowOnLauncherEntry(double fraction, bool visible);

} // namespace quorvil
