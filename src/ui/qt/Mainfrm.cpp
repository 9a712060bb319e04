#include "Mainfrm.h"

#include <chrono>

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>

#include "Unit2.h"
#include "error_text.h"
#include "layout.h"
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
    static QStringList LocalFiles(const QMimeData* data)
    {
        QStringList files;
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile())
                files << url.toLocalFile();
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

// A file dialog that takes typed names of files that do not exist, as the queue allows them; only
// a typed directory is still entered instead of chosen.
class ChooseFilesDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (files.isEmpty() || (files.size() == 1 && QFileInfo(files.first()).isDir()))
            QFileDialog::accept();
        else
            QDialog::accept();
    }
};

TApplication* application = nullptr;

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
    const QStringList files = dialog.selectedFiles();
    if (!chosen || files.isEmpty())
        return std::nullopt;
    lastFile_ = files.first();
    return files;
}

// ---- the application object

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    application = this;
    setApplicationName("Quorvil");
    setApplicationVersion(QUORVIL_VERSION);
    setWindowIcon(QIcon(":/icons/quorvil.png"));
    setFont(QFont("Tahoma", 8));
    showError = [](const QString& text) {
        QMessageBox box(QMessageBox::Critical, "Quorvil", text, QMessageBox::Ok, QApplication::activeWindow());
        box.setWindowModality(Qt::ApplicationModal);
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
    // Centred on the primary screen at the first showing, never at a negative position.
    if (QScreen* screen = primaryScreen()) {
        const QRect free = screen->availableGeometry();
        form1.move(std::max(free.x(), free.x() + (free.width() - form1.width()) / 2),
                   std::max(free.y(), free.y() + (free.height() - form1.height()) / 2));
    }
    form1.show();
    return exec();
}

// ---- the main window

TForm1::Services TForm1::DefaultServices()
{
    return {std::make_unique<OpenDialogChooser>(), RunEnvironment{}, [] { QCoreApplication::quit(); }};
}

TForm1::TForm1(Services services) : services_(std::move(services)), runner_(services_.environment)
{
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
    if (!selected.isEmpty())
        delete ListBox1->takeItem(ListBox1->row(selected.first()));
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
    // While a tool runs the window goes on handling whatever the user does.
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
