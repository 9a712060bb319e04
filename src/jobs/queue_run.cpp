#include "queue_run.h"

#include "concurrent_run.h"
#include "entry_conversion.h"
#include "entry_record.h"
#include "host.h"
#include "run_tally.h"

namespace quorvil {

namespace {

// Keeps a flag set for its scope, whatever way the scope is left.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
};

// One entry after the other, all in the caller's thread, with the queue and the options read live.
void RunOneAtATime(const QueueAccess& queue, const EventHook& processEvents, const std::string& dir,
                   const RunEnvironment& environment, const RecordPlace& records, RunTally& tally)
{
    JobSlot slot(dir, 0, records);
    const int count = queue.count();
    for (int i = 0; i < count; ++i) {
        const std::optional<std::string> entry = queue.entry(i);
        if (!entry) {
            tally.EntryGone(i);
            throw Error(ListIndexOutOfBoundsMessage(i));
        }
        const std::string& path = *entry;
        tally.Started(i, path);
        EntryOutcome outcome;
        try {
            outcome = EntryConversion(path, queue, processEvents, dir, slot, environment).Run();
        } catch (const RunInterrupted&) {
            tally.Interrupted(i, path);
            throw;
        } catch (const Error& e) {
            tally.StoppedAt(i, path, e, count - i - 1);
            throw;
        }
        tally.Finished(i, path, outcome);
    }
}

} // namespace

void QueueRunner::RunQueue(const QueueAccess& queue, const EventHook& processEvents, int jobs)
{
    if (busy_)
        return;
    const FlagScope busy(busy_);
    const RunEnvironment& environment = environment_;
    RunTally tally(environment.observer, queue.deleteOriginal, environment.words);
    std::exception_ptr stop;
    try {
        const std::string dir = environment.programDir.empty() ? ProgramDirectory() : environment.programDir;
        // What a killed run left of its entries would stop this one ("exists", "I/O error 183").
        const RecordFolder folder = PrepareRecordFolder(environment.recordFolder);
        tally.Warn(folder.warning);
        // Held to the run's end: this run's records are left alone. The user's state folder goes with
        // it when the run leaves nothing in it.
        const OwnerLock life(folder.path, folder.stateFolder);
        RecordPlace records;
        if (life.Held()) {
            records = {folder.path, life.Owner()};
            tally.Warn(TakeBackWhatDeadRunsLeft(folder.path, life.Owner()));
        }
        const ToolRecords toolRecords(records);
        if (jobs <= 1)
            RunOneAtATime(queue, processEvents, dir, environment, records, tally);
        else
            stop = ConcurrentRun(queue, processEvents, dir, environment, jobs, records).Run(tally);
    } catch (const Error&) {
        stop = std::current_exception();
    }
    if (stop)
        tally.ThrowStop(stop);
    tally.End();
}

} // namespace quorvil
