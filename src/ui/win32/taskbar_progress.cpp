#include "taskbar_progress.h"

namespace quorvil {

TaskbarProgress::~TaskbarProgress()
{
    if (list_)
        list_->Release();
    if (comInitialised_)
        CoUninitialize();
}

void TaskbarProgress::Show(HWND button, double fraction, bool visible)
{
    if (!tried_) {
        tried_ = true;
        comInitialised_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                    reinterpret_cast<void**>(&list_))))
            list_ = nullptr;
        if (list_ && FAILED(list_->HrInit())) {
            list_->Release();
            list_ = nullptr;
        }
    }
    if (!list_)
        return;
    list_->SetProgressState(button, visible ? TBPF_NORMAL : TBPF_NOPROGRESS);
    if (visible)
        list_->SetProgressValue(button, static_cast<ULONGLONG>(fraction * 1000), 1000);
}

} // namespace quorvil
