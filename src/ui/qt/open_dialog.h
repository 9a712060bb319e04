#pragma once

#include <optional>

#include <QString>
#include <QStringList>

class QWidget;

namespace quorvil {

// Where "Add AVI files" gets the user's choice; tests answer without showing a dialog.
class FileChooser {
public:
    virtual ~FileChooser() = default;
    // The chosen files, full paths in the dialog's order; nothing when the user cancels.
    [[nodiscard]] virtual std::optional<QStringList> Choose(QWidget* parent) = 0;
};

// OpenDialog1, the file-open dialog. One object for the application's run, so that it remembers
// the filter and the file name last chosen (in memory only: nothing is saved).
class OpenDialogChooser : public FileChooser {
public:
    std::optional<QStringList> Choose(QWidget* parent) override;

private:
    QString lastFilter_;
    QString lastFile_;
};

} // namespace quorvil
