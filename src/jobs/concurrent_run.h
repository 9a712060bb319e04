#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "entry_conversion.h"
#include "run_tally.h"
#include "run_types.h"

namespace quorvil {

// A run that converts up to `jobs` entries at once, each in a thread of its own on a job slot of
// its own (a script of its own). The caller's thread does everything that touches the caller's
// world: it reads the queue and the options, calls processEvents and tells the tally, so none of
// those need to be safe across threads; the entries' threads hand back only how they ended.
//
// Entries start in queue order, with the options as they stand then; one whose outputs would be
// those of a running entry (the same source, named alike in the same folder, reached by any path),
// or whose source is that entry's under another name, waits for that entry to end. The tally hears
// of ended entries in queue order. An error that stops the run starts no more entries and lets the
// running ones end; a RunInterrupted, or any exception from processEvents, also ends their tools.
class ConcurrentRun {
public:
    ConcurrentRun(const QueueAccess& queue, const EventHook& processEvents, const std::string& dir,
                  const RunEnvironment& environment, int jobs, RecordPlace records = {})
        : queue_(queue), processEvents_(processEvents), dir_(dir), environment_(environment), jobs_(jobs),
          records_(std::move(records))
    {
    }
    // Left by an exception of its own, the run ends every tool and waits for every thread.
    ~ConcurrentRun();
    ConcurrentRun(const ConcurrentRun&) = delete;
    ConcurrentRun& operator=(const ConcurrentRun&) = delete;

    // Converts the queue; returns what stopped the run, or nothing when it went to its end.
    [[nodiscard]] std::exception_ptr Run(RunTally& tally);

private:
    struct Entry {
        std::string path;
        bool subdir = true;
        bool deleteOriginal = false;
        bool ended = false;
        // Written by the entry's thread, read once it has been joined.
        EntryOutcome outcome;
        std::exception_ptr error;
    };
    struct Slot {
        Slot(const std::string& dir, int number, const RecordPlace& records) : job(dir, number, records) {}
        JobSlot job;
        std::thread thread;
        int entry = -1; // the entry it converts; -1 while it is free
    };

    void StartWhatCan(RunTally& tally);
    [[nodiscard]] bool OutputsInUse(const std::string& path) const;
    void Convert(JobSlot& job, Entry& entry); // in the entry's thread
    [[nodiscard]] std::vector<int> WaitForEnds();
    void Reap(int slot);
    void TellEnded(RunTally& tally);
    void ProcessEvents();
    void Stop(const std::exception_ptr& error, bool endTools);

    const QueueAccess& queue_;
    const EventHook& processEvents_;
    const std::string& dir_;
    const RunEnvironment& environment_;
    int jobs_;
    RecordPlace records_;

    std::deque<Slot> slots_;
    std::vector<Entry> entries_;         // sized once, before any thread starts
    int next_ = 0;                       // the next entry to start
    int told_ = 0;                       // the entries before it have been told of
    std::optional<std::string> waiting_; // the next entry's path, read while it waits for its outputs
    std::exception_ptr stop_;
    std::chrono::steady_clock::time_point eventsDue_;

    // Shared with the entries' threads.
    std::atomic<bool> endTools_{false};
    std::mutex mutex_;
    std::condition_variable endedSignal_;
    std::vector<int> ended_; // slots whose entry has ended, not yet reaped
};

} // namespace quorvil
