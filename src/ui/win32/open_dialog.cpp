#include "open_dialog.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string_view>

#include <cderr.h>
#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>

#include "ansi_path_win32.h"
#include "errors.h"
#include "form_design.h"
#include "form_support.h"
#include "layout.h"

namespace quorvil {

namespace {

constexpr char kTooManyChosen[] = "Too many files were chosen at once; none were added. Choose fewer at a time";

constexpr UINT_PTR kGuardId = 1;

// Wine's dialog copies a choice of several files into the caller's buffer without measuring it (its
// 8-bit one cuts the list short): a choice longer than the buffer would overrun it. Such a choice is
// cancelled before the dialog takes it, and told as too many files. The list holds the folder, then
// each name of the name field, which has each with quotes around it: never more than the two.
LRESULT CALLBACK GuardChoiceSize(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR tooMany)
{
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        const LRESULT folder = SendMessageW(dialog, CDM_GETFOLDERPATH, 0, 0);
        if (GetWindowTextLengthW(GetDlgItem(dialog, cmb13)) + std::max<LRESULT>(folder, MAX_PATH) + 2 >
            design::kOpenDialogNameBuffer) {
            *reinterpret_cast<bool*>(tooMany) = true;
            wParam = MAKEWPARAM(IDCANCEL, BN_CLICKED);
        }
    } else if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(dialog, GuardChoiceSize, kGuardId);
    }
    return DefSubclassProc(dialog, message, wParam, lParam);
}

// The open dialog's hook: horizontally centred on the monitor of the window it was opened from,
// its top at one third of the free height; its choice kept within the buffer.
UINT_PTR CALLBACK CentreOpenDialog(HWND hook, UINT message, WPARAM, LPARAM lParam)
{
    if (message != WM_NOTIFY || reinterpret_cast<const OFNOTIFYW*>(lParam)->hdr.code != CDN_INITDONE)
        return 0;
    const HWND dialog = GetParent(hook);
    const auto* notify = reinterpret_cast<const OFNOTIFYW*>(lParam);
    SetWindowSubclass(dialog, GuardChoiceSize, kGuardId, static_cast<DWORD_PTR>(notify->lpOFN->lCustData));
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
std::wstring FilterText()
{
    std::wstring text;
    for (const design::FileFilter& filter : design::kOpenDialogFilters) {
        text.append(FromUtf8(std::string(filter.label))).push_back(L'\0');
        text.append(FromUtf8(std::string(filter.pattern))).push_back(L'\0');
    }
    text.push_back(L'\0');
    return text;
}

} // namespace

// In UTF-16: the 8-bit dialog gives a best fit for a letter the code page lacks, "Lódz.avi" for
// "Łódź.avi", which may be another file.
std::optional<ShellFiles> OpenDialogChooser::Choose(HWND owner)
{
    std::vector<wchar_t> buffer(design::kOpenDialogNameBuffer + 1, L'\0');
    std::copy_n(lastFile_.begin(), std::min(lastFile_.size(), buffer.size() - 2), buffer.begin());
    const std::wstring filter = FilterText();
    const std::wstring title = FromUtf8(std::string(design::kOpenDialogTitle));
    OPENFILENAMEW request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = owner;
    request.lpstrFilter = filter.c_str();
    request.nFilterIndex = filterIndex_;
    request.lpstrFile = buffer.data();
    request.nMaxFile = design::kOpenDialogNameBuffer;
    request.lpstrTitle = title.c_str();
    request.Flags = OFN_EXPLORER | OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_ENABLEHOOK;
    request.lpfnHook = CentreOpenDialog;
    bool tooMany = false;
    request.lCustData = reinterpret_cast<LPARAM>(&tooMany);
    BOOL chosen = FALSE;
    {
        // The dialog disables only its owner; the About window must wait for it too.
        const ModalScope modal(application_);
        chosen = GetOpenFileNameW(&request);
    }
    filterIndex_ = request.nFilterIndex;
    if (tooMany)
        throw Error(kTooManyChosen);
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
    if (std::wstring_view(buffer.data(), design::kOpenDialogNameBuffer).find(std::wstring_view(L"\0\0", 2)) ==
        std::wstring_view::npos)
        throw Error(kTooManyChosen);

    // One file: its full path. Several: the directory, then each name. Joined in UTF-8, which
    // keeps every letter, as the queue keeps it.
    const std::wstring directory = buffer.data();
    std::vector<std::string> names;
    for (const wchar_t* name = buffer.data() + directory.size() + 1; *name; name += std::wcslen(name) + 1)
        names.push_back(Utf8(name));
    const std::vector<std::string> paths = DialogResultPaths(Utf8(directory), names);
    if (!paths.empty())
        lastFile_ = FromUtf8(paths.front());
    ShellFiles files;
    for (const std::string& path : paths)
        files.Add(FromUtf8(path));
    return files;
}

} // namespace quorvil
