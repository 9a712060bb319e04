#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <string>

#include "errors.h"
#include "run_report.h"
#include "run_types.h"

namespace quorvil {

// What a run tells as its entries start and end: the observer's news, and the closing message
// that lists every file not converted and every source kept, in the words of the failure report.
class RunTally {
public:
    // deleteOriginal: "Delete original file(s)", read as each entry's end is told: a source not
    // converted is said to be kept only when it was to be deleted.
    RunTally(RunObserver* observer, std::function<bool()> deleteOriginal)
        : observer_(observer), deleteOriginal_(std::move(deleteOriginal))
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

    // Throws what stopped the run: as it is when nothing else is to be told, else as an Error (a
    // RunInterrupted, when that stopped it) that lists the failures so far first and names the
    // entry the run stopped at. An exception that is no Error goes on unchanged.
    [[noreturn]] void ThrowStop(const std::exception_ptr& stop) const;
    // Throws the closing message, when there is one.
    void End() const;

private:
    [[nodiscard]] bool DeleteOriginal() const { return deleteOriginal_ && deleteOriginal_(); }

    struct StopPlace {
        std::string path;
        int notStarted = 0;
    };

    RunObserver* observer_;
    std::function<bool()> deleteOriginal_;
    FailureReport report_;
    std::optional<StopPlace> stoppedAt_;
};

} // namespace quorvil
