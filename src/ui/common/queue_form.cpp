#include "queue_form.h"

#include <algorithm>
#include <iostream>

#include "errors.h"
#include "failure_report.h"

namespace quorvil {

// Listens to a run: what each entry came to, in the words of the failure report, and the
// progress; between two entries the window handles its events.
class QueueForm::Tally : public RunObserver {
public:
    explicit Tally(QueueForm& form) : form_(form) {}

    void Begin()
    {
        report = {};
        entryOpen = false;
        listIndexStop.reset();
        stopCause.reset();
        hookThrew = false;
    }

    void EntryStarted(int, const std::string& path) override
    {
        current_ = path;
        entryOpen = true;
    }

    void EntryFinished(int index, const std::string& path, const EntryOutcome& outcome) override
    {
        entryOpen = false;
        if (outcome.stoppedRun) {
            stopCause = outcome.reason; // the window tells the error alone, as it was raised
            return;
        }
        if (!outcome.converted)
            NotConverted(path, outcome.reason, outcome.sourceMissing);
        else if (!outcome.reason.empty())
            report.SourceKept(path, outcome.reason);
        const int total = form_.view_.EntryCount();
        form_.ShowRun(true, total > 0 ? std::min(1.0, static_cast<double>(index + 1) / total) : 1.0);
        form_.Events();
    }

    // The entry under way when the run was stopped while its tool ran.
    void Interrupted() { NotConverted(current_, "the run was interrupted", false); }

    void NotConverted(const std::string& path, const std::string& reason, bool missing)
    {
        report.NotConverted(path, reason, form_.view_.DeleteOriginals(), missing);
    }

    FailureReport report;
    bool entryOpen = false;               // an entry has started and not finished
    std::optional<int> listIndexStop;     // the entry that was no longer in the queue
    std::optional<std::string> stopCause; // the error of the entry that could not begin
    bool hookThrew = false;               // the run was stopped from the event processing

private:
    QueueForm& form_;
    std::string current_;
};

QueueForm::QueueForm(QueueView& view, RunEnvironment environment, std::function<void()> endApplication,
                     std::function<void(double, bool)> showProgress)
    : view_(view), endApplication_(std::move(endApplication)), showProgress_(std::move(showProgress)),
      runner_(std::move(environment)), tally_(std::make_unique<Tally>(*this))
{
    RunEnvironment& run = runner_.Environment();
    run.observer = tally_.get();
    // After each tool the window answers too: a tool that ends within the launcher's first wait
    // never lets it call the event processing.
    run.launch = [this, launch = std::move(run.launch)](const ToolCommand& command, const EventHook& events,
                                                        ToolEnd* end) {
        const std::int32_t result = launch(command, events, end);
        Events();
        return result;
    };
}

QueueForm::~QueueForm() = default;

void QueueForm::Events()
{
    view_.ProcessEvents();
    if (interrupted_ && runner_.Busy()) {
        tally_->hookThrew = true;
        throw RunInterrupted(*interrupted_);
    }
}

void QueueForm::Command(const std::function<void()>& command)
{
    try {
        command();
    } catch (const std::exception& error) {
        if (interrupted_)
            std::cerr << error.what() << '\n'; // the application ends: its window shows nothing more
        else
            view_.ShowError(error);
    }
    EndIfDue();
}

void QueueForm::Button1Click()
{
    if (const auto chosen = view_.ChooseFiles())
        view_.AppendEntries(*chosen);
}

void QueueForm::Delete1Click()
{
    if (const std::optional<int> selected = view_.SelectedEntry())
        view_.RemoveEntry(*selected);
}

void QueueForm::ShowRun(bool running, double fraction)
{
    // While a tool runs the window goes on handling whatever the user does: the pointer says busy
    // but usable, the task-bar entry shows how far the run is.
    if (running != busy_)
        view_.ShowBusyPointer(running);
    busy_ = running;
    if (showProgress_)
        showProgress_(fraction, running);
}

void QueueForm::ProcessQueue()
{
    if (runner_.Busy())
        return; // the run under way goes on; its pointer and progress stay its own
    Tally& tally = *tally_;
    tally.Begin();
    const QueueAccess queue{
        [this] { return view_.EntryCount(); },
        [this, &tally](int i) {
            std::optional<std::string> entry = view_.Entry(i);
            if (!entry)
                tally.listIndexStop = i;
            return entry;
        },
        [this] { return view_.PlaceInSubdirectory(); },
        [this] { return view_.DeleteOriginals(); },
    };
    ShowRun(true, 0.0);
    struct EndOfRun {
        QueueForm& form;
        ~EndOfRun() { form.ShowRun(false, 0.0); }
    } endOfRun{*this};

    try {
        runner_.RunQueue(queue, [this] { Events(); });
    } catch (const Error& error) {
        std::string stop;
        if (tally.hookThrew) {
            if (tally.entryOpen)
                tally.Interrupted();
            stop = interrupted_.value_or(error.what());
        } else if (tally.listIndexStop) {
            stop = ListIndexOutOfBoundsMessage(*tally.listIndexStop);
        } else if (tally.stopCause) {
            // The entry could not begin (its output directory or script): the run's closing words
            // end with that error, after the files listed before it.
            stop = *tally.stopCause;
        }
        if (stop.empty() && tally.report.Empty())
            throw; // not the run's own closing words: nothing to put in other words
        tally.report.Stopped(stop);
    }
    if (!tally.report.Empty())
        throw RunFailed(tally.report);
}

bool QueueForm::RequestEnd()
{
    endRequested_ = true;
    const bool now = !runner_.Busy();
    EndIfDue();
    return now;
}

void QueueForm::Interrupt(const std::string& why)
{
    interrupted_ = why;
    RequestEnd();
}

void QueueForm::EndIfDue()
{
    if (!endRequested_ || runner_.Busy())
        return;
    endRequested_ = false;
    if (endApplication_)
        endApplication_();
}

} // namespace quorvil
