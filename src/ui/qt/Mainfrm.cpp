#include "Mainfrm.h"

#include <chrono>

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFontMetrics>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSettings>
#include <QSpacerItem>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include "Unit2.h"
#include "error_text.h"
#include "layout.h"
#include "message_cut.h"
#include "type_ahead.h"

namespace quorvil {

namespace {

// Design values at a text height of 13 pixels.
constexpr int kClientWidth = 581;
constexpr int kClientHeight = 392; // below the menu bar
constexpr int kPanelHeight = 44;
constexpr int kStatusHeight = 19;

std::string ToPath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

std::int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The queue's list box: single selection, type-ahead search, a right click that leaves the
// selection alone, the context menu at the list's corner from the keyboard, files dropped on it.
class QueueListBox : public QListWidget {
public:
    QueueListBox(QWidget* parent, std::function<void(const QStringList&)> dropped)
        : QListWidget(parent), dropped_(std::move(dropped))
    {
        setSelectionMode(QAbstractItemView::SingleSelection);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        setTextElideMode(Qt::ElideNone);
        setWordWrap(false);
        setAcceptDrops(true);
        setDragDropMode(QAbstractItemView::DropOnly);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored); // the window has no size limits
    }

    QMenu* contextMenu = nullptr;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::RightButton) {
            event->accept(); // the context menu follows; the selection stays as it is
            return;
        }
        QListWidget::mousePressEvent(event);
    }

    void contextMenuEvent(QContextMenuEvent* event) override
    {
        if (!contextMenu)
            return;
        const QPoint at = event->reason() == QContextMenuEvent::Mouse ? event->globalPos() : mapToGlobal(QPoint(0, 0));
        contextMenu->popup(at);
        event->accept();
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        // Shift+F10 opens the context menu as the Menu key does, at the list's corner.
        if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier && contextMenu) {
            contextMenu->popup(mapToGlobal(QPoint(0, 0)));
            return;
        }
        const bool plain = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
        if (plain && event->key() == Qt::Key_Backspace) {
            Search(QString::fromStdString(typeAhead_.Backspace(NowMs())));
            return;
        }
        const QString text = event->text();
        if (plain && !text.isEmpty() && text.at(0).isPrint()) {
            Search(QString::fromStdString(typeAhead_.Type(text.toStdString(), NowMs())));
            return;
        }
        QListWidget::keyPressEvent(event);
    }

    void dragEnterEvent(QDragEnterEvent* event) override { AcceptFiles(event); }
    void dragMoveEvent(QDragMoveEvent* event) override { AcceptFiles(event); }

    void dropEvent(QDropEvent* event) override
    {
        const QStringList files = LocalFiles(event->mimeData());
        if (files.isEmpty())
            return;
        event->acceptProposedAction();
        dropped_(files);
    }

private:
    // The files dropped, a folder standing for the AVI files directly inside it, in name order.
    static QStringList LocalFiles(const QMimeData* data)
    {
        QStringList files;
        for (const QUrl& url : data->urls()) {
            if (!url.isLocalFile())
                continue;
            const QString path = url.toLocalFile();
            if (!QFileInfo(path).isDir()) {
                files << path;
                continue;
            }
            QDir folder(path);
            folder.setNameFilters({"*.avi"}); // regardless of case, as QDir matches by default
            folder.setFilter(QDir::Files | QDir::Hidden);
            folder.setSorting(QDir::Name);
            for (const QString& name : folder.entryList())
                files << folder.filePath(name);
        }
        return files;
    }

    static void AcceptFiles(QDropEvent* event)
    {
        if (!LocalFiles(event->mimeData()).isEmpty())
            event->acceptProposedAction();
        else
            event->ignore();
    }

    // Selects the first entry that begins with the prefix, regardless of case.
    void Search(const QString& prefix)
    {
        if (prefix.isEmpty())
            return;
        for (int i = 0; i < count(); ++i) {
            if (item(i)->text().startsWith(prefix, Qt::CaseInsensitive)) {
                setCurrentRow(i);
                return;
            }
        }
    }

    std::function<void(const QStringList&)> dropped_;
    TypeAhead typeAhead_;
};

// The panel of buttons: controls anchored to its right edge keep their distance from it.
class AnchoredPanel : public QWidget {
public:
    using QWidget::QWidget;

    void AnchorRight(QWidget* child) { anchored_.push_back({child, 0}); }

    // Takes the current positions as the design: right gaps are measured from here on.
    void FixAnchors()
    {
        for (auto& a : anchored_)
            a.rightGap = width() - a.widget->x() - a.widget->width();
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        for (const auto& a : anchored_)
            a.widget->move(width() - a.rightGap - a.widget->width(), a.widget->y());
    }

private:
    struct Anchor {
        QWidget* widget;
        int rightGap;
    };
    std::vector<Anchor> anchored_;
};

// A file dialog that returns exactly the files chosen. It takes typed names of files that do not
// exist, as the queue allows them; a typed directory is entered, never returned.
class ChooseFilesDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override
    {
        chosen_ = Chosen();
        if (chosen_.isEmpty())
            QFileDialog::accept(); // enters a typed directory, or refuses
        else
            QDialog::accept();
    }

    [[nodiscard]] const QStringList& chosen() const { return chosen_; }

private:
    // What is selected in the list, when the name field still shows just that selection: Qt
    // would read the field again, and a name with a double quote in it breaks its reading.
    // Otherwise the names typed. Folders are never files.
    QStringList Chosen() const
    {
        QStringList files;
        const auto* view = findChild<QAbstractItemView*>("listView"); // its selection is the detail view's too
        const auto* model = findChild<QFileSystemModel*>();
        const auto* field = findChild<QLineEdit*>("fileNameEdit");
        if (view && model && field && view->selectionModel()) {
            QStringList names;
            for (const QModelIndex& index : view->selectionModel()->selectedRows()) {
                files << model->filePath(index);
                names << model->fileName(index);
            }
            const QString shown = names.size() == 1 ? names.first() : "\"" + names.join("\" \"") + "\"";
            if (names.isEmpty() || field->text() != shown)
                files = selectedFiles();
        } else {
            files = selectedFiles();
        }
        files.removeIf([](const QString& file) { return QFileInfo(file).isDir(); });
        return files;
    }

    QStringList chosen_;
};

TApplication* application = nullptr;

// The desktop's launcher API (KDE Plasma, Ubuntu's dock and others read it): progress on the entry
// of our desktop file. Without a session bus nothing is sent.
void ShowOnLauncherEntry(double fraction, bool visible)
{
    QDBusMessage update = QDBusMessage::createSignal("/com/canonical/unity/launcherentry/quorvil",
                                                     "com.canonical.Unity.LauncherEntry", "Update");
    update << QString("application://quorvil.desktop")
           << QVariantMap{{"progress", fraction}, {"progress-visible", visible}};
    QDBusConnection::sessionBus().send(update);
}

} // namespace

// ---- the open dialog

std::optional<QStringList> OpenDialogChooser::Choose(QWidget* parent)
{
    ChooseFilesDialog dialog(parent, "Choose avi files");
    dialog.setFileMode(QFileDialog::ExistingFiles); // several at once; the existence check is ours to skip
    dialog.setNameFilters({"AVI Files (*.avi)", "All files (*.*)"});
    if (!lastFilter_.isEmpty())
        dialog.selectNameFilter(lastFilter_);
    if (!lastFile_.isEmpty())
        dialog.selectFile(lastFile_);
    dialog.setWindowModality(Qt::ApplicationModal);
    // Horizontally centred on the active window's screen, its top at a third of the free height.
    if (QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
        const QRect free = screen->availableGeometry();
        const QSize size = dialog.sizeHint();
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

// ---- the application object

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    application = this;
    // Qt's file dialog keeps a history in its settings: here they live and die with the run.
    for (const auto format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, settings_.path());
    setApplicationName("Quorvil");
    setApplicationVersion(QUORVIL_VERSION);
    setWindowIcon(QIcon(":/icons/quorvil.png"));
    setFont(QFont("Tahoma", 8));
    showError = [](const QString& text) {
        // A list of failures too long for the screen shows its first lines; the rest is in the details.
        const QScreen* screen = QApplication::activeWindow() ? QApplication::activeWindow()->screen() : primaryScreen();
        const int lineHeight = QFontMetrics(QApplication::font()).lineSpacing();
        const int lines = screen ? (screen->availableGeometry().height() - 12 * lineHeight) / lineHeight : 40;
        const BoxText cut = CutForScreen(text.toStdString(), std::max(lines, 5));
        QMessageBox box(QMessageBox::Critical, "Quorvil", QString::fromStdString(cut.shown), QMessageBox::Ok,
                        QApplication::activeWindow());
        if (cut.cut)
            box.setDetailedText(text);
        box.setWindowModality(Qt::ApplicationModal);
        // Wide enough for the window manager to show the caption beside its buttons.
        if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
            const int width = QFontMetrics(box.font()).horizontalAdvance(QString(40, 'x'));
            grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), grid->rowCount(), 0,
                          1, grid->columnCount());
        }
        box.exec();
    };
}

TApplication* TApplication::Instance()
{
    return application;
}

void TApplication::ShowException(const std::exception& error)
{
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    showError(QString::fromStdString(WithFullStop(error.what())));
}

int TApplication::Run()
{
    TForm1 form1;
    TForm2 form2(&form1);
    form1.SetAboutForm(&form2);
    form1.AppendFiles(StartFiles(arguments()));
    ShowCentred(&form1);
    return exec();
}

QStringList TApplication::StartFiles(const QStringList& arguments)
{
    QStringList files;
    for (const QString& argument : arguments.mid(1))
        files << QFileInfo(argument).absoluteFilePath();
    return files;
}

void ShowCentred(QWidget* window)
{
    window->show();
    // The frame is the window manager's; it tells its size once the window is mapped.
    QWindow* handle = window->windowHandle();
    QElapsedTimer waited;
    waited.start();
    while (handle && handle->frameMargins().isNull() && waited.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect free = screen->availableGeometry();
    const QSize frame = window->frameGeometry().size();
    window->move(std::max(free.x(), free.x() + (free.width() - frame.width()) / 2),
                 std::max(free.y(), free.y() + (free.height() - frame.height()) / 2));
}

// ---- the main window

TForm1::Services TForm1::DefaultServices()
{
    return {std::make_unique<OpenDialogChooser>(), RunEnvironment{}, [] { QCoreApplication::quit(); },
            ShowOnLauncherEntry};
}

TForm1::TForm1(Services services)
    : services_(std::move(services)), runner_(services_.environment),
      progress_(services_.showProgress, [this] { return ListBox1->count(); })
{
    if (!runner_.Environment().observer)
        runner_.Environment().observer = &progress_;
    setWindowTitle("Quorvil");
    OpenDialog1 = services_.chooser.get();

    auto* client = new QWidget(this);
    auto* column = new QVBoxLayout(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* list = new QueueListBox(client, [this](const QStringList& files) { AppendFiles(files); });
    ListBox1 = list;
    auto* panel = new AnchoredPanel(client);
    Panel1 = panel;
    column->addWidget(ListBox1, 1);
    column->addWidget(Panel1);
    setCentralWidget(client);

    Button1 = new QPushButton("Add AVI files", Panel1);
    Button2 = new QPushButton("Clear", Panel1);
    CheckBox1 = new QCheckBox("Delete original file(s)", Panel1);
    Button3 = new QPushButton("Process Queue", Panel1);
    CheckBox2 = new QCheckBox("Place in subdirectory", Panel1);
    CheckBox2->setChecked(true);
    for (QPushButton* button : {Button1, Button2, Button3})
        button->setAutoDefault(true); // Enter presses the focused button, and only that one
    panel->AnchorRight(CheckBox1);
    panel->AnchorRight(Button3);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setSizeGripEnabled(true);
    setStatusBar(StatusBar1);

    CreateMenus();
    list->contextMenu = PopupMenu1;

    setTabOrder(ListBox1, Button1);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, CheckBox1);
    setTabOrder(CheckBox1, Button3);
    setTabOrder(Button3, CheckBox2);
    ListBox1->setFocus();

    connect(Button1, &QPushButton::clicked, this, [this] { Command([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, [this] { Command([this] { Button2Click(); }); });
    connect(Button3, &QPushButton::clicked, this, [this] { Command([this] { Button3Click(); }); });
    connect(Quit1, &QAction::triggered, this, [this] { Command([this] { Quit1Click(); }); });
    connect(About1, &QAction::triggered, this, [this] { Command([this] { About1Click(); }); });
    connect(Delete1, &QAction::triggered, this, [this] { Command([this] { Delete1Click(); }); });
    connect(Clear1, &QAction::triggered, this, [this] { Command([this] { Button2Click(); }); });

    LayOut();
    panel->FixAnchors();
}

TForm1::~TForm1() = default;

void TForm1::CreateMenus()
{
    MainMenu1 = menuBar();
    File1 = MainMenu1->addMenu("&File");
    Quit1 = File1->addAction("&Quit");
    Quit1->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    // Alt+F4 is the application's: it quits from the About window too.
    Quit1->setShortcutContext(Qt::ApplicationShortcut);
    Help1 = MainMenu1->addMenu("&Help");
    About1 = Help1->addAction("&About...");

    PopupMenu1 = new QMenu(this);
    Delete1 = PopupMenu1->addAction("&Delete");
    Clear1 = PopupMenu1->addAction("&Clear");
}

void TForm1::LayOut()
{
    const int textHeight = QFontMetrics(font()).height();
    const auto s = [textHeight](int designPixels) { return ScaleForText(designPixels, textHeight); };

    Panel1->setFixedHeight(s(kPanelHeight));
    StatusBar1->setFixedHeight(s(kStatusHeight));
    Button1->setGeometry(s(8), s(11), s(81), s(25));
    Button2->setGeometry(s(96), s(11), s(49), s(25));
    CheckBox1->setGeometry(s(323), s(6), s(152), s(17));
    Button3->setGeometry(s(485), s(11), s(89), s(25));
    CheckBox2->setGeometry(s(323), s(22), s(145), s(17));
    Panel1->resize(s(kClientWidth), s(kPanelHeight));
    resize(s(kClientWidth), MainMenu1->sizeHint().height() + s(kClientHeight));
}

void TForm1::Command(const std::function<void()>& command)
{
    Guarded(command);
    if (quitGate_.TakeEndDue(runner_.Busy()))
        services_.endApplication();
}

void TForm1::AppendFiles(const QStringList& paths)
{
    for (const QString& path : paths)
        ListBox1->addItem(path);
}

void TForm1::Button1Click()
{
    if (const auto chosen = OpenDialog1->Choose(this))
        AppendFiles(*chosen);
}

void TForm1::Button2Click()
{
    ListBox1->clear();
}

void TForm1::Delete1Click()
{
    const auto selected = ListBox1->selectedItems();
    if (selected.isEmpty())
        return;
    delete ListBox1->takeItem(ListBox1->row(selected.first()));
    // As a Windows list box does: nothing is selected afterwards, so a second Delete does nothing.
    ListBox1->setCurrentItem(nullptr);
    ListBox1->clearSelection();
}

void TForm1::Button3Click()
{
    const QueueAccess queue{
        [this] { return ListBox1->count(); },
        [this](int i) -> std::optional<std::string> {
            const QListWidgetItem* entry = ListBox1->item(i);
            if (!entry)
                return std::nullopt;
            return ToPath(entry->text());
        },
        [this] { return CheckBox2->isChecked(); },
        [this] { return CheckBox1->isChecked(); },
    };
    if (runner_.Busy())
        return; // the run under way goes on; its pointer and progress stay its own
    // While a tool runs the window goes on handling whatever the user does: the pointer says busy
    // but usable, the task-bar entry shows how far the run is.
    QApplication::setOverrideCursor(Qt::BusyCursor);
    progress_.Started();
    const auto restore = qScopeGuard([this] {
        progress_.Ended();
        QApplication::restoreOverrideCursor();
    });
    runner_.RunQueue(queue, [] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
}

void TForm1::About1Click()
{
    if (aboutForm_)
        aboutForm_->ShowAbout();
}

void TForm1::Quit1Click()
{
    quitGate_.RequestEnd();
    if (quitGate_.TakeEndDue(runner_.Busy()))
        services_.endApplication();
}

void TForm1::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        ListBox1->setFocus(Qt::ActiveWindowFocusReason);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // During a run the window stays until the whole queue is converted; then the application ends.
    quitGate_.RequestEnd();
    if (runner_.Busy()) {
        event->ignore();
        return;
    }
    event->accept();
    if (quitGate_.TakeEndDue(runner_.Busy()))
        services_.endApplication();
}

} // namespace quorvil
