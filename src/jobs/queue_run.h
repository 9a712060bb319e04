#pragma once

#include <utility>

#include "launcher.h"
#include "run_types.h"

namespace quorvil {

// Runs the queue, one run at a time: the owner of "a run is under way". The front ends and
// quorvil-split each hold one.
class QueueRunner {
public:
    explicit QueueRunner(RunEnvironment environment = {}) : environment_(std::move(environment)) {}
    QueueRunner(const QueueRunner&) = delete;
    QueueRunner& operator=(const QueueRunner&) = delete;

    // Converts every entry of the queue, in order. Throws Error when the run has to stop (an
    // output directory or the script cannot be made, an entry has gone) and, at its end, when any
    // entry was not converted or kept a source it was to delete: one error that lists those files
    // and why. A source is deleted only when its content is provably in the outputs; a failed
    // entry removes what it made. A call made while a run is under way (from inside the event
    // hook) returns at once: two runs could write the same outputs at once.
    //
    // With jobs > 1, up to that many entries are converted at once, each in a thread of its own
    // with a script of its own; the queue, the options, processEvents (every 100 ms) and the
    // observer are still used in the calling thread only, but environment.launch is called from
    // the entries' threads. The options then hold for a whole entry, as they stand when it
    // starts; an entry whose outputs a running entry writes, or whose source file it converts under
    // another name, waits; a stop starts no more entries, lets the running ones end, and lists them
    // too. An exception from processEvents ends the tools of every running entry, as it ends the one
    // tool of a run of one at a time.
    //
    // Each entry holds its source file locked from its first check to its deletion: an entry whose
    // source another run is converting fails without touching anything.
    void RunQueue(const QueueAccess& queue, const EventHook& processEvents, int jobs = 1);

    [[nodiscard]] bool Busy() const { return busy_; }

    [[nodiscard]] RunEnvironment& Environment() { return environment_; }

private:
    RunEnvironment environment_;
    bool busy_ = false;
};

} // namespace quorvil
