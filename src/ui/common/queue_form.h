#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "queue_run.h"

namespace quorvil {

// What the queue form's logic needs of a window and its application; each front end answers it
// with its own controls.
class QueueView {
public:
    virtual ~QueueView() = default;

    // The list of queue entries (ListBox1), read live.
    [[nodiscard]] virtual int EntryCount() const = 0;
    [[nodiscard]] virtual std::optional<std::string> Entry(int index) const = 0;
    // "Place in subdirectory" (CheckBox2) and "Delete original file(s)" (CheckBox1), read live.
    [[nodiscard]] virtual bool PlaceInSubdirectory() const = 0;
    [[nodiscard]] virtual bool DeleteOriginals() const = 0;

    // The application's error display.
    virtual void ShowError(const std::exception& error) = 0;
    // Asks the event loop to end.
    virtual void EndApplication() = 0;
    // The application's pending-event processing: handles what is waiting and returns at once.
    virtual void ProcessEvents() = 0;
    // A run's state beside the window's texts: the busy-but-usable pointer and the task-bar
    // progress (the fraction of entries done) while running, neither afterwards.
    virtual void ShowRun(bool running, double fraction) = 0;
};

// The queue form's logic, written once for both front ends: the Process Queue flow, the quit flow,
// the error display around every command, and a stop asked for from outside (a signal).
class QueueForm {
public:
    explicit QueueForm(QueueView& view, RunEnvironment environment = {});
    ~QueueForm();
    QueueForm(const QueueForm&) = delete;
    QueueForm& operator=(const QueueForm&) = delete;

    // Runs a command of the window: an error that escapes it goes to the error display, and an
    // end of the application that became due meanwhile is asked for once it has returned.
    void Command(const std::function<void()>& command);

    // Process Queue: converts the queue with the options read whenever the run needs them. The
    // window answers between entries and after each tool too, not only while a tool runs. Throws
    // RunFailed when a file was not converted, a source was kept or the run was stopped. Does
    // nothing while a run is under way.
    void ProcessQueue();

    // Quit, or the window closed by any means: the end comes now, or once the run under way has
    // converted its whole queue. Returns whether the end is due now.
    bool RequestEnd();

    // A stop asked for from outside the window (a signal): the run under way ends its tool,
    // cleans up its entry and returns; then, or at once without a run, the application ends.
    void Interrupt(const std::string& why);
    [[nodiscard]] bool Interrupted() const { return interrupted_.has_value(); }

    [[nodiscard]] bool RunUnderWay() const { return runner_.Busy(); }

private:
    class Tally;
    void Events();
    void EndIfDue();

    QueueView& view_;
    QueueRunner runner_;
    std::unique_ptr<Tally> tally_;
    bool endRequested_ = false;
    std::optional<std::string> interrupted_;
};

} // namespace quorvil
