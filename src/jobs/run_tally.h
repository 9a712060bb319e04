#pragma once

#include <exception>
#include <string>
#include <vector>

#include "queue_run.h"

namespace quorvil {

// What a run tells as its entries start and end: the observer's news, and the closing message
// that lists every file not converted and every source kept, in the order they are told.
class RunTally {
public:
    explicit RunTally(RunObserver* observer) : observer_(observer) {}

    void Started(int index, const std::string& path) const;
    // Tells the observer, when text is not empty.
    void Warn(const std::string& text) const;
    void Finished(int index, const std::string& path, const EntryOutcome& outcome);
    // An entry that a stop of the run ended while its tools ran: not converted, its source kept.
    void Interrupted(const std::string& path);

    // Throws what stopped the run: as it is when nothing else is to be told, else as an Error (a
    // RunInterrupted, when that stopped it) that lists the failures so far first. An exception that
    // is no Error goes on unchanged.
    [[noreturn]] void ThrowStop(const std::exception_ptr& stop) const;
    // Throws the closing message, when there is one.
    void End() const;

private:
    struct Listed {
        std::string path;
        std::string reason;
    };
    [[nodiscard]] std::string Summary(const std::string& stop) const;

    RunObserver* observer_;
    std::vector<Listed> failures_;
    std::vector<Listed> kept_;
};

} // namespace quorvil
