#include "run_tally.h"

#include "errors.h"

namespace quorvil {

void RunTally::Started(int index, const std::string& path) const
{
    if (observer_)
        observer_->EntryStarted(index, path);
}

void RunTally::Warn(const std::string& text) const
{
    if (observer_ && !text.empty())
        observer_->Warning(text);
}

void RunTally::Finished(int index, const std::string& path, const EntryOutcome& outcome)
{
    // The closing message is quorvil-split's: in the words that say what a reason is about.
    const std::string& reason = outcome.namedReason.empty() ? outcome.reason : outcome.namedReason;
    if (!outcome.converted)
        report_.NotConverted(path, reason, DeleteOriginal(), outcome.sourceMissing);
    else if (!outcome.reason.empty())
        report_.SourceKept(path, outcome.reason);
    if (observer_)
        observer_->EntryFinished(index, path, outcome);
}

void RunTally::Interrupted(int index, const std::string& path)
{
    const EntryOutcome outcome{false, "the run was interrupted"};
    report_.NotConverted(path, outcome.reason, DeleteOriginal(), false);
    if (observer_)
        observer_->EntryInterrupted(index, path, outcome);
}

void RunTally::StoppedAt(int index, const std::string& path, const Error& error, int notStarted)
{
    if (!stoppedAt_)
        stoppedAt_ = StopPlace{path, notStarted};
    EntryOutcome outcome{false, error.what()};
    outcome.stoppedRun = true;
    if (const std::string named = NamedText(error); named != outcome.reason)
        outcome.namedReason = named;
    Finished(index, path, outcome);
}

void RunTally::ThrowStop(const std::exception_ptr& stop) const
{
    FailureReport report = report_;
    try {
        std::rethrow_exception(stop);
    } catch (const RunInterrupted& e) {
        // Still what the caller is told to catch, with the failures so far in its words.
        if (report.Empty())
            throw;
        report.Stopped(e.what());
        throw RunInterrupted(report.Text());
    } catch (const Error& e) {
        // The failures so far are not lost when the run stops; the stop comes last.
        if (stoppedAt_)
            report.StoppedAt(stoppedAt_->path, stoppedAt_->notStarted);
        else if (report.Empty())
            throw;
        else
            report.Stopped(e.what());
        throw Error(report.Text());
    }
}

void RunTally::End() const
{
    if (!report_.Empty())
        throw Error(report_.Text());
}

} // namespace quorvil
