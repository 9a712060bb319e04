#include "failure_report.h"

#include <algorithm>

namespace quorvil {

namespace {

int LineCount(const std::string& text)
{
    return 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

std::string Count(std::size_t n, const char* one, const char* many)
{
    return std::to_string(n) + (n == 1 ? one : many);
}

} // namespace

void FailureReport::Add(Group group, const std::string& line)
{
    const auto listed =
        std::find_if(groups_.begin(), groups_.end(), [group](const Listed& l) { return l.group == group; });
    if (listed != groups_.end()) {
        listed->lines.push_back(line);
        return;
    }
    groups_.push_back({group, {line}});
    // Always in the same order, whatever came first: what failed, then what was only kept.
    std::stable_sort(groups_.begin(), groups_.end(),
                     [](const Listed& a, const Listed& b) { return a.group < b.group; });
}

std::string WhyNotConverted(const std::string& reason, bool missing)
{
    return missing ? "the file is missing" : reason;
}

void FailureReport::NotConverted(const std::string& path, const std::string& reason, bool sourceKept, bool missing)
{
    // A missing file has no source to keep.
    Add(sourceKept && !missing ? Group::notConvertedKept : Group::notConverted,
        path + ": " + WhyNotConverted(reason, missing));
}

void FailureReport::SourceKept(const std::string& path, const std::string& reason)
{
    Add(Group::convertedKept, path + ": " + reason);
}

void FailureReport::StoppedAt(const std::string& path, int notStarted)
{
    stop_ = "The run stopped at " + path;
    if (notStarted > 0)
        stop_ += "; the rest of the queue, " +
                 Count(static_cast<std::size_t>(notStarted), " file, was not converted", " files, was not converted");
}

std::string FailureReport::Text(int maxLines) const
{
    const auto heading = [](const Listed& listed) {
        const std::size_t n = listed.lines.size();
        switch (listed.group) {
        case Group::notConvertedKept:
            return Count(n, " file was not converted; its source file was kept:",
                         " files were not converted; their source files were kept:");
        case Group::notConverted:
            return Count(n, " file was not converted:", " files were not converted:");
        case Group::convertedKept:
            break;
        }
        // Not "kept": someone else may have removed or replaced the source meanwhile.
        return Count(n, " file was converted, but its source file was not deleted:",
                     " files were converted, but their source files were not deleted:");
    };
    const auto more = [](const Listed& listed, std::size_t n) {
        if (listed.group == Group::convertedKept)
            return "... and " + Count(n, " more file was converted, its source file not deleted.",
                                      " more files were converted, their source files not deleted.");
        return "... and " + Count(n, " more file was not converted.", " more files were not converted.");
    };

    // Headings, the blank lines between parts and the stop are always shown; the files share the rest.
    int fixed = stop_.empty() ? 0 : LineCount(stop_) + (groups_.empty() ? 0 : 1);
    int files = 0;
    for (const Listed& listed : groups_) {
        fixed += 1 + (&listed == &groups_.front() ? 0 : 1);
        for (const std::string& line : listed.lines)
            files += LineCount(line);
    }
    const bool cut = fixed + files > maxLines;
    int budget = cut ? std::max(0, maxLines - fixed - static_cast<int>(groups_.size())) : files;

    std::string text;
    const auto add = [&text](const std::string& line) { text += (text.empty() ? "" : "\n") + line; };
    for (const Listed& listed : groups_) {
        if (!text.empty())
            text += "\n";
        add(heading(listed));
        std::size_t shown = 0;
        for (; shown < listed.lines.size() && LineCount(listed.lines[shown]) <= budget; ++shown) {
            budget -= LineCount(listed.lines[shown]);
            add(listed.lines[shown]);
        }
        if (shown < listed.lines.size()) {
            budget = 0; // files are listed in order: none after the first that did not fit
            add(more(listed, listed.lines.size() - shown));
        }
    }
    if (!stop_.empty()) {
        if (!text.empty())
            text += "\n";
        add(stop_);
    }
    return text;
}

} // namespace quorvil
