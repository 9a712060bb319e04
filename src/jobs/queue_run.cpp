#include "queue_run.h"

#include <vector>

#include "entry_conversion.h"
#include "host.h"

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

struct Listed {
    std::string path;
    std::string reason;
};

std::string Plural(std::size_t n, const char* one, const char* many)
{
    return n == 1 ? one : many;
}

// The run's closing message: the files not converted, the sources kept, and what stopped the run.
std::string Summary(const std::vector<Listed>& failures, const std::vector<Listed>& kept, const std::string& stop)
{
    std::string text;
    const auto list = [&text](const std::vector<Listed>& files) {
        for (const auto& file : files)
            text += "\n" + file.path + ": " + file.reason;
    };
    if (!failures.empty()) {
        text += std::to_string(failures.size()) +
                Plural(failures.size(), " file was not converted, and its source file was not deleted:",
                       " files were not converted, and their source files were not deleted:");
        list(failures);
    }
    if (!kept.empty()) {
        text += (text.empty() ? "" : "\n\n") + std::to_string(kept.size()) +
                Plural(kept.size(), " file was converted, but its source file was not deleted:",
                       " files were converted, but their source files were not deleted:");
        list(kept);
    }
    if (!stop.empty())
        text += (text.empty() ? "" : "\n\n") + stop;
    return text;
}

} // namespace

void QueueRunner::RunQueue(const QueueAccess& queue, const EventHook& processEvents)
{
    if (busy_)
        return;
    const FlagScope busy(busy_);
    const RunEnvironment& environment = environment_;
    const std::string dir = environment.programDir.empty() ? ProgramDirectory() : environment.programDir;
    JobSlot slot(dir, 0);
    std::vector<Listed> failures;
    std::vector<Listed> kept;

    try {
        const int count = queue.count();
        for (int i = 0; i < count; ++i) {
            const std::optional<std::string> entry = queue.entry(i);
            if (!entry)
                throw Error(ListIndexOutOfBoundsMessage(i));
            const std::string& path = *entry;
            if (environment.observer)
                environment.observer->EntryStarted(i, path);
            EntryOutcome outcome;
            try {
                outcome = EntryConversion(path, queue, processEvents, dir, slot, environment).Run();
            } catch (const RunInterrupted&) {
                failures.push_back({path, "the run was interrupted"});
                throw;
            }
            if (!outcome.converted)
                failures.push_back({path, outcome.reason});
            else if (!outcome.reason.empty())
                kept.push_back({path, outcome.reason});
            if (environment.observer)
                environment.observer->EntryFinished(i, path, outcome);
        }
    } catch (const Error& stop) {
        // The failures so far are not lost when the run stops; the stopping error comes last.
        if (failures.empty() && kept.empty())
            throw;
        throw Error(Summary(failures, kept, stop.what()));
    }

    if (!failures.empty() || !kept.empty())
        throw Error(Summary(failures, kept, {}));
}

} // namespace quorvil
