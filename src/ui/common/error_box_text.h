#pragma once

#include <exception>
#include <functional>
#include <string>

#include "failure_report.h"

namespace quorvil {

// The error box's text for an error on a screen that holds maxLines lines of it, by the full-stop
// rule. A run's report is cut by its groups; any other long text keeps its first lines.
[[nodiscard]] std::string ErrorBoxText(const std::exception& error, int maxLines);

// How many lines of text an error box can show: the height left on the screen once the box's own
// parts (caption, frame, button, margins) are taken off, in lines of the box's font; never fewer
// than the few a report needs to say anything.
[[nodiscard]] int LinesThatFit(int availableHeight, int lineHeight, int boxPartsHeight);

// The error box's text cut until the box fits the screen, from `lines` lines: overBy(text) tells
// how far the box showing that text, as the front end measures it, is taller than the room it has
// (zero or less: it fits). The text keeps the most lines that fit, never fewer than the fewest a
// report needs; overBy must grow with the lines. Also gives the lines the text was cut to.
struct FittedErrorText {
    std::string text;
    int lines = 0;
};
[[nodiscard]] FittedErrorText FitErrorBoxText(const std::exception& error, int lines, int lineHeight,
                                              const std::function<int(const std::string&)>& overBy);

} // namespace quorvil
