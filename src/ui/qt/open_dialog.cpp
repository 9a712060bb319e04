#include "open_dialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTreeView>
#include <QWindow>

#include "form_design.h"

namespace quorvil {

namespace {

// A file dialog that returns exactly the files chosen. It takes typed names of files that do not
// exist, as the queue allows them; a typed directory is entered, never returned.
class ChooseFilesDialog : public QFileDialog {
public:
    ChooseFilesDialog(QWidget* parent, const QString& caption) : QFileDialog(parent, caption)
    {
        setOption(QFileDialog::DontUseNativeDialog); // what follows reaches into the dialog's widgets
        setFileMode(QFileDialog::ExistingFiles);     // several at once; the existence check is ours to skip
        // Qt's fixed widths cut a size or a date ("402...KiB"): those columns take their contents'
        // width, and the name what is left.
        if (auto* details = findChild<QTreeView*>("treeView")) {
            QHeaderView* header = details->header();
            header->setStretchLastSection(false);
            header->setSectionResizeMode(QHeaderView::ResizeToContents);
            header->setSectionResizeMode(0, QHeaderView::Stretch);
        }
        field_ = findChild<QLineEdit*>("fileNameEdit");
        const auto* buttons = findChild<QDialogButtonBox*>("buttonBox");
        open_ = buttons ? buttons->button(QDialogButtonBox::Open) : nullptr;
        if (open_ && field_) {
            open_->installEventFilter(this);
            // After the dialog's own handling of the same change, which is connected first.
            connect(field_, &QLineEdit::textChanged, this, [this] { KeepOpenUsable(); });
        }
    }

    void accept() override
    {
        chosen_ = Chosen();
        if (chosen_.isEmpty())
            QFileDialog::accept(); // enters a typed directory, or refuses
        else
            QDialog::accept();
    }

    [[nodiscard]] const QStringList& chosen() const { return chosen_; }

protected:
    // Qt greys the Open button while a typed name is not an existing file; such a name is taken
    // like any other, so the button stays usable whenever a name is typed.
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == open_ && event->type() == QEvent::EnabledChange)
            KeepOpenUsable();
        return QFileDialog::eventFilter(watched, event);
    }

private:
    void KeepOpenUsable()
    {
        if (!open_->isEnabled() && !field_->text().trimmed().isEmpty())
            open_->setEnabled(true);
    }

    // What is selected in the list, when the name field still shows just that selection: Qt
    // would read the field again, and a name with a double quote in it breaks its reading.
    // Otherwise the names typed. Folders are never files.
    QStringList Chosen()
    {
        QStringList files;
        const auto* view = findChild<QAbstractItemView*>("listView"); // its selection is the detail view's too
        const auto* model = findChild<QFileSystemModel*>();
        if (view && model && field_ && view->selectionModel()) {
            QStringList names;
            for (const QModelIndex& index : view->selectionModel()->selectedRows()) {
                if (model->isDir(index))
                    continue; // as the field shows the selection: folders left out
                files << model->filePath(index);
                names << model->fileName(index);
            }
            const QString shown = names.size() == 1 ? names.first() : "\"" + names.join("\" \"") + "\"";
            // The field holds so many characters; a longer selection shows as its beginning.
            if (names.isEmpty() || field_->text() != shown.left(field_->maxLength())) {
                // Typing selects the typed names that exist, and Qt reads a selection before the
                // field: the names that do not exist would be lost. Emptied, the selection leaves
                // the field as it is.
                if (!field_->text().isEmpty())
                    view->selectionModel()->clearSelection();
                files = selectedFiles();
            }
        } else {
            files = selectedFiles();
        }
        files.removeIf([](const QString& file) { return QFileInfo(file).isDir(); });
        return files;
    }

    QLineEdit* field_ = nullptr;
    QPushButton* open_ = nullptr;
    QStringList chosen_;
};

} // namespace

std::optional<QStringList> OpenDialogChooser::Choose(QWidget* parent)
{
    ChooseFilesDialog dialog(parent, QString::fromUtf8(design::kOpenDialogTitle));
    QStringList filters;
    for (const design::FileFilter& filter : design::kOpenDialogFilters)
        filters << QString::fromStdString(design::LabelWithPattern(filter));
    dialog.setNameFilters(filters);
    // Qt reads each filter's patterns from its brackets; the list shows the labels as they are.
    if (auto* types = dialog.findChild<QComboBox*>("fileTypeCombo")) {
        for (int i = 0; i < types->count() && i < static_cast<int>(design::kOpenDialogFilters.size()); ++i)
            types->setItemText(i, QString::fromUtf8(design::kOpenDialogFilters[i].label));
    }
    if (!lastFilter_.isEmpty())
        dialog.selectNameFilter(lastFilter_);
    if (!lastFile_.isEmpty())
        dialog.selectFile(lastFile_);
    dialog.setWindowModality(Qt::ApplicationModal);
    // Horizontally centred on the active window's screen, its top at a third of the free height,
    // the frame counted in: the window manager tells a window's frame only once it is shown, and
    // frames the dialog as it frames the main window.
    if (QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
        const QRect free = screen->availableGeometry();
        const QMargins frame = parent && parent->windowHandle() ? parent->windowHandle()->frameMargins() : QMargins();
        const QSize size = dialog.sizeHint().grownBy(frame);
        dialog.move(free.x() + (free.width() - size.width()) / 2, free.y() + (free.height() - size.height()) / 3);
    }
    const bool chosen = dialog.exec() == QDialog::Accepted;
    lastFilter_ = dialog.selectedNameFilter();
    const QStringList files = dialog.chosen();
    if (!chosen || files.isEmpty())
        return std::nullopt;
    lastFile_ = files.first();
    return files;
}

} // namespace quorvil
