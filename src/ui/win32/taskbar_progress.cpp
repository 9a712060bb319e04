#include "taskbar_progress.h"

namespace quorvil {

void TaskbarProgress::Show(HWND button, double fraction, bool visible)
{
    if (!tried_) {
        tried_ = true;
        ITaskbarList3* made = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                       reinterpret_cast<void**>(&made))) &&
            made) {
            std::unique_ptr<ITaskbarList3, Releaser> owned(made); // released, whatever HrInit says
            if (SUCCEEDED(owned->HrInit()))
                list_ = std::move(owned);
        }
    }
    if (!list_)
        return;
    list_->SetProgressState(button, visible ? TBPF_NORMAL : TBPF_NOPROGRESS);
    if (visible)
        list_->SetProgressValue(button, static_cast<ULONGLONG>(fraction * 1000), 1000);
}

} // namespace quorvil
