#include "failure_report.h"

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
    const int step = std::max(1, lineHeight);
    for (;;) {
        std::string text = ErrorBoxText(error, lines);
        const int over = overBy(text);
        if (over <= 0 || lines <= fewest)
            return {std::move(text), lines};
        lines = std::max(fewest, lines - std::max(1, (over + step - 1) / step));
    }
}

} // namespace quorvil
