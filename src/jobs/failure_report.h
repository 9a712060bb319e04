#pragma once

#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "errors.h"

namespace quorvil {

// Why an entry was not converted, in the words of the failure list: a source that is not there
// is missing, whatever the system called it.
[[nodiscard]] std::string WhyNotConverted(const std::string& reason, bool missing);

// FailureReport: what a run of the queue has to tell when it ends, in the words the window and
// quorvil-split share: the files not converted, the sources kept, and what stopped it, each said
// only where it is true.
class FailureReport {
public:
    // A file not converted. sourceKept: "Delete original file(s)" was on for it and the file
    // exists, so it was kept rather than deleted; missing: there was no such file.
    void NotConverted(const std::string& path, const std::string& reason, bool sourceKept, bool missing);
    // A file converted whose source was to be deleted but was not, or was removed or replaced by
    // someone else during its conversion, and why.
    void SourceKept(const std::string& path, const std::string& reason);
    // The error that stopped the run before its end, as it was raised.
    void Stopped(const std::string& message) { stop_ = message; }
    // The run stopped at the file of path (listed with its reason as not converted), and the
    // notStarted files after it in the queue were never begun.
    void StoppedAt(const std::string& path, int notStarted);

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

// The error that ends a run with a report; what() is the whole text, in UTF-8 as the names in it.
class RunFailed : public Utf8Error {
public:
    explicit RunFailed(FailureReport report) : Utf8Error(report.Text()), report_(std::move(report)) {}
    [[nodiscard]] const FailureReport& Report() const { return report_; }

private:
    FailureReport report_;
};

} // namespace quorvil
