#pragma once

#include <optional>
#include <string>
#include <vector>

#include <windows.h>

#include "shell_files.h"

namespace quorvil {

class FormHost;

// Where "Add AVI files" gets the user's choice; tests may answer without showing a dialog.
class FileChooser {
public:
    virtual ~FileChooser() = default;
    // The chosen files, full paths in the dialog's order; nothing when the user cancels. Throws Error when the dialog
    // fails or the choice does not fit its name field: nothing is taken.
    [[nodiscard]] virtual std::optional<ShellFiles> Choose(HWND owner) = 0;
};

// OpenDialog1, the common open dialog, modal over all of the application's windows. One object
// for the application's run, so that it remembers the filter and the file name last chosen.
class OpenDialogChooser : public FileChooser {
public:
    explicit OpenDialogChooser(FormHost& application) : application_(application) {}
    std::optional<ShellFiles> Choose(HWND owner) override;

private:
    FormHost& application_;
    DWORD filterIndex_ = 1;
    std::wstring lastFile_;
};

} // namespace quorvil
