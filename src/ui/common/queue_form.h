#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "queue_run.h"
#include "type_ahead.h"

namespace quorvil {

// What a main window works with besides its controls; tests replace parts of it. The chooser is
// the front end's open dialog.
template <class Chooser> struct FormServices {
    std::unique_ptr<Chooser> chooser;
    RunEnvironment environment;
    std::function<void()> endApplication; // asks the event loop to end
    // Shows a run's progress on the application's task-bar entry (fraction, visible).
    std::function<void(double, bool)> showProgress;
    TypeAhead::Clock typeAheadClock; // empty: the machine's steady clock
};

// What the queue form's logic needs of a window and its application; each front end answers it
// with its own controls, one toolkit call each.
class QueueView {
public:
    virtual ~QueueView() = default;

    // The list of queue entries (ListBox1), read live, in the file system's encoding.
    [[nodiscard]] virtual int EntryCount() const = 0;
    [[nodiscard]] virtual std::optional<std::string> Entry(int index) const = 0;
    virtual void AppendEntries(const std::vector<std::string>& paths) = 0;
    virtual void ClearEntries() = 0;
    [[nodiscard]] virtual std::optional<int> SelectedEntry() const = 0;
    // Removes an entry and leaves none selected, as a Windows list box does: a second Delete does nothing.
    virtual void RemoveEntry(int index) = 0;
    // The open dialog (OpenDialog1): the files chosen, in its order; nothing when the user cancels.
    [[nodiscard]] virtual std::optional<std::vector<std::string>> ChooseFiles() = 0;
    virtual void ShowAbout() = 0;
    // "Place in subdirectory" (CheckBox2) and "Delete original file(s)" (CheckBox1), read live.
    [[nodiscard]] virtual bool PlaceInSubdirectory() const = 0;
    [[nodiscard]] virtual bool DeleteOriginals() const = 0;

    // The application's error display.
    virtual void ShowError(const std::exception& error) = 0;
    // The application's pending-event processing: handles what is waiting and returns at once.
    virtual void ProcessEvents() = 0;
    // The busy-but-usable pointer over the application's windows while a run is under way.
    virtual void ShowBusyPointer(bool busy) = 0;
};

// The queue form's logic, written once for both front ends: the handlers of the window's commands,
// the Process Queue flow, the quit flow, the error display around every command, and a stop asked
// for from outside (a signal).
class QueueForm {
public:
    template <class Chooser>
    QueueForm(QueueView& view, const FormServices<Chooser>& services)
        : QueueForm(view, services.environment, services.endApplication, services.showProgress)
    {
    }
    QueueForm(QueueView& view, RunEnvironment environment, std::function<void()> endApplication,
              std::function<void(double, bool)> showProgress);
    ~QueueForm();
    QueueForm(const QueueForm&) = delete;
    QueueForm& operator=(const QueueForm&) = delete;

    // Runs a command of the window: an error that escapes it goes to the error display, and an
    // end of the application that became due meanwhile is asked for once it has returned.
    void Command(const std::function<void()>& command);

    // The window's commands, each run through Command() by the view.
    void Button1Click();                          // Add AVI files
    void Button2Click() { view_.ClearEntries(); } // Clear, and the list's Clear1
    void Button3Click() { ProcessQueue(); }       // Process Queue
    void Delete1Click();
    void About1Click() { view_.ShowAbout(); }
    void Quit1Click() { RequestEnd(); } // a run under way finishes its queue first

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
    class Progress;
    void Events();
    void EndIfDue();
    void ShowRun(bool running, double fraction);

    QueueView& view_;
    std::function<void()> endApplication_;
    std::function<void(double, bool)> showProgress_;
    bool busy_ = false;
    QueueRunner runner_;
    std::unique_ptr<Progress> progress_;
    bool endRequested_ = false;
    std::optional<std::string> interrupted_;
};

} // namespace quorvil
