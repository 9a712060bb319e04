#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <string>

#include "errors.h"
#include "failure_report.h"
#include "run_types.h"

namespace quorvil {

// What a run tells as its entries start and end: the observer's news, and the closing message
// that lists every file not converted and every source kept, in the words of the failure report.
class RunTally {
public:
    // deleteOriginal: "Delete original file(s)", read as each entry's end is told: a source not
    // converted is said to be kept only when it was to be deleted.
    RunTally(RunObserver* observer, std::function<bool()> deleteOriginal, ReportWords words)
        : observer_(observer), deleteOriginal_(std::move(deleteOriginal)), words_(words)
    {
    }

    void Started(int index, const std::string& path) const;
    // Tells the observer, when text is not empty.
    void Warn(const std::string& text) const;
    void Finished(int index, const std::string& path, const EntryOutcome& outcome);
    // An entry that a stop of the run ended while its tools ran: not converted, its source kept.
    void Interrupted(int index, const std::string& path);
    // An entry that could not begin and stops the run with error: told as not converted, with the
    // error as its reason; the notStarted entries after it are not begun.
    void StoppedAt(int index, const std::string& path, const Error& error, int notStarted);
    // The queue no longer had entry index when the run came to it: the run stops there.
    void EntryGone(int index);

    // Throws what stopped the run: as it is when nothing else is to be told, else as a RunFailed
    // that lists the failures so far first and then tells the stop. In quorvil-split's words an
    // interruption stays a RunInterrupted, with that text. An exception that is no Error goes on
    // unchanged.
    [[noreturn]] void ThrowStop(const std::exception_ptr& stop) const;
    // Throws the closing message as a RunFailed, when there is one.
    void End() const;

private:
    [[nodiscard]] bool DeleteOriginal() const { return deleteOriginal_ && deleteOriginal_(); }
    [[noreturn]] void ThrowInWindowWords(const std::exception_ptr& stop) const;

    struct StopPlace {
        std::string path;
        int notStarted = 0;
    };

    RunObserver* observer_;
    std::function<bool()> deleteOriginal_;
    ReportWords words_;
    FailureReport report_;
    std::optional<StopPlace> stoppedAt_;
    // In the window's words, what the run stopped at: the error of the entry that could not begin,
    // or the entry the queue no longer had.
    std::optional<std::string> stopCause_;
};

} // namespace quorvil
