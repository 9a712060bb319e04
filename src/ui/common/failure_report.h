#pragma once

#include <exception>
#include <limits>
#include <string>
#include <vector>

#include "errors.h"

namespace quorvil {

// What a run of the queue has to tell when it ends: the files not converted, the sources kept,
// and what stopped it, each said only where it is true.
class FailureReport {
public:
    // A file not converted. sourceKept: "Delete original file(s)" was on for it and the file
    // exists, so it was kept rather than deleted; missing: there was no such file.
    void NotConverted(const std::string& path, const std::string& reason, bool sourceKept, bool missing);
    // A file converted whose source was to be deleted but was not, or was removed or replaced by
    // someone else during its conversion, and why.
    void SourceKept(const std::string& path, const std::string& reason);
    // The error that stopped the run before its end.
    void Stopped(const std::string& message) { stop_ = message; }

    [[nodiscard]] bool Empty() const { return groups_.empty() && stop_.empty(); }

    // The text, in at most maxLines lines: every heading and the stop are kept, and files that do
    // not fit are counted in a line of their own group ("... and 12 more files were not converted").
    [[nodiscard]] std::string Text(int maxLines = std::numeric_limits<int>::max()) const;

private:
    enum class Group { notConvertedKept, notConverted, convertedKept };
    struct Listed {
        Group group;
        std::vector<std::string> lines;
    };
    void Add(Group group, const std::string& line);

    std::vector<Listed> groups_;
    std::string stop_;
};

// The error that ends a run with a report; what() is the whole text.
class RunFailed : public Error {
public:
    explicit RunFailed(FailureReport report) : Error(report.Text()), report_(std::move(report)) {}
    [[nodiscard]] const FailureReport& Report() const { return report_; }

private:
    FailureReport report_;
};

// The error box's text for an error on a screen that holds maxLines lines of it, by the full-stop
// rule. A run's report is cut by its groups; any other long text keeps its first lines.
[[nodiscard]] std::string ErrorBoxText(const std::exception& error, int maxLines);

// How many lines of text an error box can show: the height left on the screen once the box's own
// parts (caption, frame, button, margins) are taken off, in lines of the box's font; never fewer
// than the few a report needs to say anything.
[[nodiscard]] int LinesThatFit(int availableHeight, int lineHeight, int boxPartsHeight);

} // namespace quorvil
