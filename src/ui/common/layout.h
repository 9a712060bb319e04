#pragma once

#include <string>
#include <vector>

#include "form_design.h"

namespace quorvil {

// The windows are laid out for a text height of 13 pixels (Tahoma 8 pt at 96 dpi). With another
// font or resolution every position and size scales by the measured height of "0" against 13.
inline constexpr int kDesignTextHeight = 13;

// designPixels * textHeight / 13, rounded to the nearest pixel as MulDiv does.
[[nodiscard]] int ScaleForText(int designPixels, int textHeight);
[[nodiscard]] design::Rect ScaleForText(const design::Rect& place, int textHeight);

// The open dialog's answer as queue entries: one file is its full path; several come as a
// directory and names, joined with "\" (unless the directory ends in one), a name that is
// already absolute ("\..." or "X:\..." longer than three characters) taken unchanged.
[[nodiscard]] std::vector<std::string> DialogResultPaths(const std::string& directory,
                                                         const std::vector<std::string>& names);

} // namespace quorvil
