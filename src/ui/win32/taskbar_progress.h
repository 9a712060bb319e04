#pragma once

#include <windows.h>

#include <shobjidl.h>

namespace quorvil {

// A run's progress on the application's task-bar button (ITaskbarList3). Made on first use; where
// the shell has no task bar list nothing is shown.
class TaskbarProgress {
public:
    TaskbarProgress() = default;
    ~TaskbarProgress();
    TaskbarProgress(const TaskbarProgress&) = delete;
    TaskbarProgress& operator=(const TaskbarProgress&) = delete;

    void Show(HWND button, double fraction, bool visible);

private:
    ITaskbarList3* list_ = nullptr;
    bool tried_ = false;
    bool comInitialised_ = false;
};

} // namespace quorvil
