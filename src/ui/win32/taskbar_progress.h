#pragma once

#include <memory>

#include <windows.h>

#include <shobjidl.h>

namespace quorvil {

// A run's progress on the application's task-bar button (ITaskbarList3). Made on first use, in a
// thread that has COM (the application object's LauncherScope); where the shell has no task bar
// list, or it cannot be set up, nothing is shown.
class TaskbarProgress {
public:
    void Show(HWND button, double fraction, bool visible);

private:
    struct Releaser {
        void operator()(IUnknown* object) const { object->Release(); }
    };
    std::unique_ptr<ITaskbarList3, Releaser> list_;
    bool tried_ = false;
};

} // namespace quorvil
