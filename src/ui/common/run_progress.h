#pragma once

#include <algorithm>
#include <functional>
#include <string>

#include "queue_run.h"

namespace quorvil {

// A run's progress as a front end shows it beside its window texts (a task-bar entry): entries
// done of the entries in the queue, and nothing once the run has ended.
class RunProgress : public RunObserver {
public:
    // show(fraction, visible); total() the queue's length, read when an entry ends.
    RunProgress(std::function<void(double, bool)> show, std::function<int()> total)
        : show_(std::move(show)), total_(std::move(total))
    {
    }

    void Started() { Show(0.0, true); }
    void Ended() { Show(0.0, false); }

    void EntryFinished(int index, const std::string&, const EntryOutcome&) override
    {
        const int total = total_ ? total_() : 0;
        Show(total > 0 ? std::min(1.0, static_cast<double>(index + 1) / total) : 1.0, true);
    }

private:
    void Show(double fraction, bool visible)
    {
        if (show_)
            show_(fraction, visible);
    }

    std::function<void(double, bool)> show_;
    std::function<int()> total_;
};

} // namespace quorvil
