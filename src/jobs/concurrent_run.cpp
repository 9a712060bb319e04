#include "concurrent_run.h"

#include <algorithm>
#include <string_view>
#include <system_error>
#include <utility>

#include "file_ops.h"
#include "plan.h"

namespace quorvil {

namespace {

// As often as the launcher calls the hook while it waits for a tool.
constexpr auto kEventInterval = std::chrono::milliseconds(100);

// Whether two names might be one name to a file system that sets letter case aside (Windows, and
// some elsewhere). Any two bytes beyond ASCII count as alike, since a code page's letters may
// differ in case only: two names taken for alike cost no more than converting one after the other.
bool NamesAlike(std::string_view a, std::string_view b)
{
    const auto fold = [](unsigned char c) { return c >= 0x80 ? 0x80 : (c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c); };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
               return fold(static_cast<unsigned char>(x)) == fold(static_cast<unsigned char>(y));
           });
}

// Whether two entries would write the same outputs, which are named after the source beside it:
// sources named alike in one folder, however the folder is reached (a link, a name in other letter
// case, "."). Another name for the same file (a hard link) elsewhere has outputs of its own.
bool SameOutputs(const std::string& a, const std::string& b, const PathRules& rules)
{
    if (a == b)
        return true;
    if (!NamesAlike(FileNamePart(a, rules), FileNamePart(b, rules)))
        return false;
    const auto folder = [&rules](const std::string& path) {
        const std::string dir = DirectoryPart(path, rules);
        return dir.empty() ? std::string(".") : dir;
    };
    return SameFile(folder(a), folder(b));
}

bool IsInterruption(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const RunInterrupted&) {
        return true;
    } catch (...) {
        return false;
    }
}

// The entry the run stopped at, told as such when its error is an Error: no entry has started since,
// none will. Any other exception stopped the run, and goes on as it is.
void TellStoppedAt(RunTally& tally, int index, const std::string& path, const std::exception_ptr& error, int notStarted)
{
    try {
        std::rethrow_exception(error);
    } catch (const Error& e) {
        tally.StoppedAt(index, path, e, notStarted);
    } catch (...) {
    }
}

} // namespace

ConcurrentRun::~ConcurrentRun()
{
    endTools_ = true;
    for (Slot& slot : slots_) {
        if (slot.thread.joinable())
            slot.thread.join();
    }
}

std::exception_ptr ConcurrentRun::Run(RunTally& tally)
{
    const int count = queue_.count();
    entries_.resize(static_cast<std::size_t>(std::max(count, 0)));
    for (int number = 0; number < std::min(jobs_, count); ++number)
        slots_.emplace_back(dir_, number, records_);
    eventsDue_ = std::chrono::steady_clock::now() + kEventInterval;
    for (;;) {
        StartWhatCan(tally);
        const bool running = std::any_of(slots_.begin(), slots_.end(), [](const Slot& s) { return s.entry >= 0; });
        if (!running && (stop_ || next_ == count))
            break;
        for (const int slot : WaitForEnds())
            Reap(slot);
        TellEnded(tally);
        if (std::chrono::steady_clock::now() >= eventsDue_)
            ProcessEvents();
    }
    TellEnded(tally);
    return stop_;
}

void ConcurrentRun::StartWhatCan(RunTally& tally)
{
    while (!stop_ && next_ < static_cast<int>(entries_.size())) {
        const auto free = std::find_if(slots_.begin(), slots_.end(), [](const Slot& s) { return s.entry < 0; });
        if (free == slots_.end())
            return;
        try {
            if (!waiting_) {
                waiting_ = queue_.entry(next_);
                if (!waiting_) {
                    tally.EntryGone(next_);
                    throw Error(ListIndexOutOfBoundsMessage(next_));
                }
            }
            if (OutputsInUse(*waiting_))
                return;
            Entry& entry = entries_[static_cast<std::size_t>(next_)];
            entry.path = std::move(*waiting_);
            waiting_.reset();
            entry.subdir = queue_.subdir();
            entry.deleteOriginal = queue_.deleteOriginal();
            tally.Started(next_, entry.path);
            try {
                free->thread = std::thread([this, &job = free->job, &entry] { Convert(job, entry); });
            } catch (const std::system_error& e) {
                throw Error("Cannot start the conversion of " + entry.path + ": " + e.what());
            }
            free->entry = next_++;
        } catch (...) {
            const std::exception_ptr error = std::current_exception();
            Stop(error, IsInterruption(error));
        }
    }
}

bool ConcurrentRun::OutputsInUse(const std::string& path) const
{
    // The same file under another name (a hard link) waits too: a running entry holds it locked.
    return std::any_of(slots_.begin(), slots_.end(), [&](const Slot& slot) {
        if (slot.entry < 0)
            return false;
        const std::string& running = entries_[static_cast<std::size_t>(slot.entry)].path;
        return SameOutputs(running, path, environment_.rules) || SameFile(running, path);
    });
}

void ConcurrentRun::Convert(JobSlot& job, Entry& entry)
{
    const LauncherScope launcher; // this thread starts the entry's tools
    // The options as they stood when the entry started: the caller's are read in its own thread only.
    const bool subdir = entry.subdir;
    const bool deleteOriginal = entry.deleteOriginal;
    const QueueAccess options{{}, {}, [subdir] { return subdir; }, [deleteOriginal] { return deleteOriginal; }};
    const EventHook endToolsWhenAsked = [this] {
        if (endTools_)
            throw RunInterrupted("the run was interrupted");
    };
    try {
        entry.outcome = EntryConversion(entry.path, options, endToolsWhenAsked, dir_, job, environment_).Run();
    } catch (...) {
        entry.error = std::current_exception();
    }
    {
        const std::lock_guard lock(mutex_);
        ended_.push_back(job.number);
    }
    endedSignal_.notify_one();
}

std::vector<int> ConcurrentRun::WaitForEnds()
{
    std::unique_lock lock(mutex_);
    endedSignal_.wait_until(lock, eventsDue_, [this] { return !ended_.empty(); });
    return std::exchange(ended_, {});
}

void ConcurrentRun::Reap(int number)
{
    Slot& slot = slots_[static_cast<std::size_t>(number)];
    slot.thread.join();
    Entry& entry = entries_[static_cast<std::size_t>(slot.entry)];
    slot.entry = -1;
    entry.ended = true;
    if (entry.error)
        Stop(entry.error, false);
}

void ConcurrentRun::TellEnded(RunTally& tally)
{
    for (; told_ < next_ && entries_[static_cast<std::size_t>(told_)].ended; ++told_) {
        const Entry& entry = entries_[static_cast<std::size_t>(told_)];
        if (!entry.error)
            tally.Finished(told_, entry.path, entry.outcome);
        else if (IsInterruption(entry.error))
            tally.Interrupted(told_, entry.path);
        else
            TellStoppedAt(tally, told_, entry.path, entry.error, static_cast<int>(entries_.size()) - next_);
    }
}

void ConcurrentRun::ProcessEvents()
{
    try {
        if (processEvents_)
            processEvents_();
    } catch (...) {
        // As in a run of one entry at a time, an exception from the hook ends the running tools.
        Stop(std::current_exception(), true);
    }
    eventsDue_ = std::chrono::steady_clock::now() + kEventInterval;
}

void ConcurrentRun::Stop(const std::exception_ptr& error, bool endTools)
{
    if (!stop_)
        stop_ = error;
    if (endTools)
        endTools_ = true;
}

} // namespace quorvil
