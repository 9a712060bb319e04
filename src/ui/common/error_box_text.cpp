#include "error_box_text.h"

#include <algorithm>

#include "error_text.h"

namespace quorvil {

namespace {

int LineCount(const std::string& text)
{
    return 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

std::string ErrorBoxText(const std::exception& error, int maxLines)
{
    if (const auto* failed = dynamic_cast<const RunFailed*>(&error))
        return WithFullStop(failed->Report().Text(maxLines));
    const std::string text = WithFullStop(error.what());
    if (LineCount(text) <= maxLines)
        return text;
    std::string shown;
    std::size_t start = 0;
    for (int line = 0; line + 1 < std::max(maxLines, 2); ++line) {
        const std::size_t end = text.find('\n', start);
        shown += text.substr(start, end - start + 1);
        start = end + 1;
    }
    return shown + "...";
}

int LinesThatFit(int availableHeight, int lineHeight, int boxPartsHeight)
{
    constexpr int kFewest = 5; // a heading, a file, the count of the rest, a blank line and a stop
    if (lineHeight <= 0)
        return kFewest;
    return std::max(kFewest, (availableHeight - boxPartsHeight) / lineHeight);
}

FittedErrorText FitErrorBoxText(const std::exception& error, int lines, int lineHeight,
                                const std::function<int(const std::string&)>& overBy)
{
    const int fewest = LinesThatFit(0, lineHeight, 0);
    std::string text = ErrorBoxText(error, lines);
    if (lines <= fewest || overBy(text) <= 0)
        return {std::move(text), lines};
    // The most lines that fit, halving the range: a line of the report may wrap to several rows
    // in the box, so the excess in rows says little about the lines to take off.
    int fits = fewest;
    int over = lines;
    while (over - fits > 1) {
        const int middle = fits + (over - fits) / 2;
        if (overBy(ErrorBoxText(error, middle)) <= 0)
            fits = middle;
        else
            over = middle;
    }
    return {ErrorBoxText(error, fits), fits};
}

} // namespace quorvil
