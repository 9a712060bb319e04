#include "queue_form.h"

#include <algorithm>
#include <iostream>

#include "errors.h"

namespace quorvil {

// Listens to a run for its progress: between two entries the window handles its events.
class QueueForm::Progress : public RunObserver {
public:
    explicit Progress(QueueForm& form) : form_(form) {}

    void EntryFinished(int index, const std::string&, const EntryOutcome& outcome) override
    {
        if (outcome.stoppedRun)
            return; // the run stops at it
        const int total = form_.view_.EntryCount();
        form_.ShowRun(true, total > 0 ? std::min(1.0, static_cast<double>(index + 1) / total) : 1.0);
        form_.Events();
    }

private:
    QueueForm& form_;
};

QueueForm::QueueForm(QueueView& view, RunEnvironment environment, std::function<void()> endApplication,
                     std::function<void(double, bool)> showProgress)
    : view_(view), endApplication_(std::move(endApplication)), showProgress_(std::move(showProgress)),
      runner_(std::move(environment)), progress_(std::make_unique<Progress>(*this))
{
    RunEnvironment& run = runner_.Environment();
    run.observer = progress_.get();
    run.words = ReportWords::window;
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
    if (interrupted_ && runner_.Busy())
        throw RunInterrupted(*interrupted_);
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
    const QueueAccess queue{
        [this] { return view_.EntryCount(); },
        [this](int i) { return view_.Entry(i); },
        [this] { return view_.PlaceInSubdirectory(); },
        [this] { return view_.DeleteOriginals(); },
    };
    ShowRun(true, 0.0);
    struct EndOfRun {
        QueueForm& form;
        ~EndOfRun() { form.ShowRun(false, 0.0); }
    } endOfRun{*this};
    // A failure ends the run as a RunFailed, in the window's words.
    runner_.RunQueue(queue, [this] { Events(); });
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
