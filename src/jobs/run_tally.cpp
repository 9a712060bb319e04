#include "run_tally.h"

#include "errors.h"

namespace quorvil {

namespace {

std::string Plural(std::size_t n, const char* one, const char* many)
{
    return n == 1 ? one : many;
}

} // namespace

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
    if (!outcome.converted)
        failures_.push_back({path, outcome.reason});
    else if (!outcome.reason.empty())
        kept_.push_back({path, outcome.reason});
    if (observer_)
        observer_->EntryFinished(index, path, outcome);
}

void RunTally::Interrupted(const std::string& path)
{
    failures_.push_back({path, "the run was interrupted"});
}

void RunTally::ThrowStop(const std::exception_ptr& stop) const
{
    try {
        std::rethrow_exception(stop);
    } catch (const RunInterrupted& e) {
        // Still what the caller is told to catch, with the failures so far in its words.
        if (failures_.empty() && kept_.empty())
            throw;
        throw RunInterrupted(Summary(e.what()));
    } catch (const Error& e) {
        // The failures so far are not lost when the run stops; the stopping error comes last.
        if (failures_.empty() && kept_.empty())
            throw;
        throw Error(Summary(e.what()));
    }
}

void RunTally::End() const
{
    if (!failures_.empty() || !kept_.empty())
        throw Error(Summary({}));
}

// The run's closing message: the files not converted, the sources kept, and what stopped the run.
std::string RunTally::Summary(const std::string& stop) const
{
    std::string text;
    const auto list = [&text](const std::vector<Listed>& files) {
        for (const auto& file : files)
            text += "\n" + file.path + ": " + file.reason;
    };
    if (!failures_.empty()) {
        text += std::to_string(failures_.size()) +
                Plural(failures_.size(), " file was not converted, and its source file was not deleted:",
                       " files were not converted, and their source files were not deleted:");
        list(failures_);
    }
    if (!kept_.empty()) {
        text += (text.empty() ? "" : "\n\n") + std::to_string(kept_.size()) +
                Plural(kept_.size(), " file was converted, but its source file was not deleted:",
                       " files were converted, but their source files were not deleted:");
        list(kept_);
    }
    if (!stop.empty())
        text += (text.empty() ? "" : "\n\n") + stop;
    return text;
}

} // namespace quorvil
