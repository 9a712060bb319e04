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
    // quorvil-split says what a reason is about; the window tells it as it was raised.
    const bool named = words_ == ReportWords::commandLine && !outcome.namedReason.empty();
    const std::string& reason = named ? outcome.namedReason : outcome.reason;
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
    EntryOutcome outcome{false, error.what()};
    outcome.stoppedRun = true;
    if (const std::string named = NamedText(error); named != outcome.reason)
        outcome.namedReason = named;
    if (words_ == ReportWords::window) {
        // Not listed: the window's closing words end with the error itself, after the files listed.
        if (!stopCause_)
            stopCause_ = outcome.reason;
        if (observer_)
            observer_->EntryFinished(index, path, outcome);
        return;
    }
    if (!stoppedAt_)
        stoppedAt_ = StopPlace{path, notStarted};
    Finished(index, path, outcome);
}

void RunTally::EntryGone(int index)
{
    if (!stopCause_)
        stopCause_ = ListIndexOutOfBoundsMessage(index);
}

void RunTally::ThrowStop(const std::exception_ptr& stop) const
{
    if (words_ == ReportWords::window)
        ThrowInWindowWords(stop);
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
        throw RunFailed(report);
    }
}

void RunTally::ThrowInWindowWords(const std::exception_ptr& stop) const
{
    std::string stopWords;
    try {
        std::rethrow_exception(stop);
    } catch (const RunInterrupted& e) {
        stopWords = e.what();
    } catch (const Error&) {
        // An error the run did not stop at itself adds no words of its own to a list of files.
        stopWords = stopCause_.value_or(std::string());
    }
    if (stopWords.empty() && report_.Empty())
        std::rethrow_exception(stop); // not the run's own closing words: nothing to put in other words
    FailureReport report = report_;
    report.Stopped(stopWords);
    throw RunFailed(report);
}

void RunTally::End() const
{
    if (!report_.Empty())
        throw RunFailed(report_);
}

} // namespace quorvil
