#include "open_dialog.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <cderr.h>
#include <commdlg.h>

#include "errors.h"
#include "form_design.h"
#include "form_support.h"
#include "layout.h"

namespace quorvil {

namespace {

constexpr char kTooManyChosen[] = "Too many files were chosen at once; none were added. Choose fewer at a time";

// The open dialog's hook: horizontally centred on the monitor of the window it was opened from,
// its top at one third of the free height.
UINT_PTR CALLBACK CentreOpenDialog(HWND hook, UINT message, WPARAM, LPARAM lParam)
{
    if (message != WM_NOTIFY || reinterpret_cast<const OFNOTIFYA*>(lParam)->hdr.code != CDN_INITDONE)
        return 0;
    const HWND dialog = GetParent(hook);
    const auto* notify = reinterpret_cast<const OFNOTIFYA*>(lParam);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoA(MonitorFromWindow(notify->lpOFN->hwndOwner, MONITOR_DEFAULTTONEAREST), &monitor);
    RECT box;
    GetWindowRect(dialog, &box);
    const RECT& free = monitor.rcWork;
    const int width = box.right - box.left;
    const int height = box.bottom - box.top;
    SetWindowPos(dialog, nullptr, free.left + (free.right - free.left - width) / 2,
                 free.top + std::max(0L, (free.bottom - free.top - height) / 3), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return 0;
}

// "AVI Files\0*.avi\0All files (*.*)\0*.*\0\0", from the design table.
std::string FilterText()
{
    std::string text;
    for (const design::FileFilter& filter : design::kOpenDialogFilters) {
        text.append(filter.label).push_back('\0');
        text.append(filter.pattern).push_back('\0');
    }
    text.push_back('\0');
    return text;
}

} // namespace

std::optional<std::vector<std::string>> OpenDialogChooser::Choose(HWND owner)
{
    std::vector<char> buffer(design::kOpenDialogNameBuffer + 1, '\0');
    std::memcpy(buffer.data(), lastFile_.c_str(), std::min(lastFile_.size(), buffer.size() - 2));
    const std::string filter = FilterText();
    const std::string title(design::kOpenDialogTitle);
    OPENFILENAMEA request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = owner;
    request.lpstrFilter = filter.c_str();
    request.nFilterIndex = filterIndex_;
    request.lpstrFile = buffer.data();
    request.nMaxFile = design::kOpenDialogNameBuffer;
    request.lpstrTitle = title.c_str();
    request.Flags = OFN_EXPLORER | OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_ENABLEHOOK;
    request.lpfnHook = CentreOpenDialog;
    BOOL chosen = FALSE;
    {
        // The dialog disables only its owner; the About window must wait for it too.
        const ModalScope modal;
        chosen = GetOpenFileNameA(&request);
    }
    filterIndex_ = request.nFilterIndex;
    if (!chosen) {
        const DWORD code = CommDlgExtendedError();
        if (code == 0)
            return std::nullopt; // cancelled
        if (code == FNERR_BUFFERTOOSMALL)
            throw Error(kTooManyChosen);
        char text[64];
        std::snprintf(text, sizeof text, "The file dialog failed (error 0x%04lX)", static_cast<unsigned long>(code));
        throw Error(text);
    }
    // Wine reports success for a choice that does not fit: the field is full, its last name cut
    // off and the list unended. An ended list has an empty name within the field.
    if (std::string_view(buffer.data(), design::kOpenDialogNameBuffer).find(std::string_view("\0\0", 2)) ==
        std::string_view::npos)
        throw Error(kTooManyChosen);

    // One file: its full path. Several: the directory, then each name.
    const std::string directory = buffer.data();
    std::vector<std::string> names;
    for (const char* name = buffer.data() + directory.size() + 1; *name; name += std::strlen(name) + 1)
        names.emplace_back(name);
    std::vector<std::string> paths = DialogResultPaths(directory, names);
    if (!paths.empty())
        lastFile_ = paths.front();
    return paths;
}

} // namespace quorvil
