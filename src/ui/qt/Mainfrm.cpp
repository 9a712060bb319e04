#include "Mainfrm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include "Unit2.h"
#include "anchored_panel.h"
#include "form_design.h"
#include "form_support.h"
#include "launcher_entry.h"
#include "queue_list_box.h"

namespace quorvil {

namespace {

QString Text(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

TForm1::Services TForm1::DefaultServices()
{
    return {std::make_unique<OpenDialogChooser>(),
            RunEnvironment{},
            [] { QCoreApplication::quit(); },
            ShowOnLauncherEntry,
            {}};
}

TForm1::TForm1(FormHost& application, Services services)
    : application_(application), services_(std::move(services)), queue_(*this, services_)
{
    setWindowTitle(Text(design::kMainCaption));
    OpenDialog1 = services_.chooser.get();
    CreateComponents();
    CreateMenus();
    ListBox1->contextMenu = PopupMenu1;
    ConnectCommands();
    LayOut();
    Panel1->FixAnchors();
}

TForm1::~TForm1() = default;

void TForm1::CreateComponents()
{
    auto* client = new QWidget(this);
    auto* column = new QVBoxLayout(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    ListBox1 = new QueueListBox(
        client, [this](const QStringList& files) { AppendFiles(files); }, services_.typeAheadClock);
    ListBox1->setAccessibleName(Text(design::kListBox1Name));
    Panel1 = new AnchoredPanel(client);
    column->addWidget(ListBox1, 1);
    column->addWidget(Panel1);
    setCentralWidget(client);

    // The panel's controls from the design table, in tab order.
    std::vector<QWidget*> controls;
    for (const design::Control& control : design::kPanelControls) {
        QWidget* made = nullptr;
        if (control.kind == design::Kind::checkBox) {
            auto* box = new QCheckBox(Text(control.text), Panel1);
            box->setChecked(control.checked);
            made = box;
        } else {
            auto* button = new QPushButton(Text(control.text), Panel1);
            button->setAutoDefault(true); // Enter presses the focused button, and only that one
            made = button;
        }
        if (control.anchor == design::Anchor::rightBottom)
            Panel1->AnchorRight(made);
        if (!controls.empty())
            setTabOrder(controls.back(), made);
        controls.push_back(made);
    }
    setTabOrder(ListBox1, controls.front());
    Button1 = static_cast<QPushButton*>(controls[design::kButton1]);
    Button2 = static_cast<QPushButton*>(controls[design::kButton2]);
    CheckBox1 = static_cast<QCheckBox*>(controls[design::kCheckBox1]);
    Button3 = static_cast<QPushButton*>(controls[design::kButton3]);
    CheckBox2 = static_cast<QCheckBox*>(controls[design::kCheckBox2]);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setSizeGripEnabled(true);
    setStatusBar(StatusBar1);
    ListBox1->setFocus();
}

void TForm1::CreateMenus()
{
    MainMenu1 = menuBar();
    File1 = MainMenu1->addMenu(Text(design::kFile1.text));
    Quit1 = File1->addAction(Text(design::kQuit1.text));
    Quit1->setShortcut(QKeySequence(Text(design::kQuit1.shortcut)));
    // Alt+F4 is the application's: it quits from the About window too.
    Quit1->setShortcutContext(Qt::ApplicationShortcut);
    Help1 = MainMenu1->addMenu(Text(design::kHelp1.text));
    About1 = Help1->addAction(Text(design::kAbout1.text));

    PopupMenu1 = new QMenu(this);
    Delete1 = PopupMenu1->addAction(Text(design::kDelete1.text));
    Clear1 = PopupMenu1->addAction(Text(design::kClear1.text));
}

void TForm1::ConnectCommands()
{
    const auto command = [this](void (QueueForm::*handler)()) {
        return [this, handler] { queue_.Command([this, handler] { (queue_.*handler)(); }); };
    };
    connect(Button1, &QPushButton::clicked, this, command(&QueueForm::Button1Click));
    connect(Button2, &QPushButton::clicked, this, command(&QueueForm::Button2Click));
    connect(Button3, &QPushButton::clicked, this, command(&QueueForm::Button3Click));
    connect(Quit1, &QAction::triggered, this, command(&QueueForm::Quit1Click));
    connect(About1, &QAction::triggered, this, command(&QueueForm::About1Click));
    connect(Delete1, &QAction::triggered, this, command(&QueueForm::Delete1Click));
    connect(Clear1, &QAction::triggered, this, command(&QueueForm::Button2Click));
}

void TForm1::LayOut()
{
    const auto s = [this](int designPixels) { return DesignedPixels(this, designPixels); };
    Panel1->setFixedHeight(s(design::kPanelHeight));
    StatusBar1->setFixedHeight(s(design::kStatusHeight));
    const QList<QWidget*> controls{Button1, Button2, CheckBox1, Button3, CheckBox2};
    for (std::size_t i = 0; i < design::kPanelControls.size(); ++i)
        controls[static_cast<qsizetype>(i)]->setGeometry(DesignedPlace(this, design::kPanelControls[i].place));
    Panel1->resize(s(design::kMainClientWidth), s(design::kPanelHeight));
    resize(s(design::kMainClientWidth), MainMenu1->sizeHint().height() + s(design::kMainClientHeight));
}

void TForm1::ShowCentred()
{
    quorvil::ShowCentred(this);
}

void TForm1::AppendFiles(const QStringList& paths)
{
    for (const QString& path : paths)
        ListBox1->addItem(path);
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
    if (queue_.RequestEnd())
        event->accept();
    else
        event->ignore();
}

int TForm1::EntryCount() const
{
    return ListBox1->count();
}

std::optional<std::string> TForm1::Entry(int index) const
{
    const QListWidgetItem* entry = ListBox1->item(index);
    if (!entry)
        return std::nullopt;
    return QFile::encodeName(entry->text()).toStdString();
}

void TForm1::AppendEntries(const std::vector<std::string>& paths)
{
    QStringList entries;
    for (const std::string& path : paths)
        entries << QFile::decodeName(QByteArray::fromStdString(path));
    AppendFiles(entries);
}

void TForm1::ClearEntries()
{
    ListBox1->clear();
}

std::optional<int> TForm1::SelectedEntry() const
{
    const auto selected = ListBox1->selectedItems();
    if (selected.isEmpty())
        return std::nullopt;
    return ListBox1->row(selected.first());
}

void TForm1::RemoveEntry(int index)
{
    delete ListBox1->takeItem(index);
    ListBox1->setCurrentItem(nullptr);
    ListBox1->clearSelection();
}

std::optional<std::vector<std::string>> TForm1::ChooseFiles()
{
    const auto chosen = OpenDialog1->Choose(this);
    if (!chosen)
        return std::nullopt;
    std::vector<std::string> paths;
    for (const QString& path : *chosen)
        paths.push_back(QFile::encodeName(path).toStdString());
    return paths;
}

void TForm1::ShowAbout()
{
    if (aboutForm_)
        aboutForm_->ShowAbout();
}

bool TForm1::PlaceInSubdirectory() const
{
    return CheckBox2->isChecked();
}

bool TForm1::DeleteOriginals() const
{
    return CheckBox1->isChecked();
}

void TForm1::ShowError(const std::exception& error)
{
    application_.ShowException(error);
}

void TForm1::ProcessEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TForm1::ShowBusyPointer(bool busy)
{
    if (busy)
        QApplication::setOverrideCursor(Qt::BusyCursor);
    else
        QApplication::restoreOverrideCursor();
}

} // namespace quorvil
