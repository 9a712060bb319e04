// The desktop windows, headless (QT_QPA_PLATFORM=offscreen), with fake tools for the runs.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

#include <csignal>

#include "anchored_panel.h"
#include "application.h"
#include "end_signals.h"
#include "errors.h"
#include "error_box_text.h"
#include "form_design.h"
#include "form_support.h"
#include "forms.h"
#include "host.h"
#include "queue_list_box.h"
#include "test_support.h"

namespace quorvil {
namespace {

namespace fs = std::filesystem;

// Answers the open dialog with a prepared choice.
class FakeChooser : public FileChooser {
public:
    std::optional<QStringList> answer;
    int asked = 0;
    std::optional<QStringList> Choose(QWidget*) override
    {
        ++asked;
        return answer;
    }
};

QStringList Entries(const QueueListBox* list)
{
    return list->Entries();
}

// Answers a modal dialog of type Dialog once it is shown: polls for it every 20 ms, for 20 s at most,
// so that a dialog that comes late is still answered and one that never comes fails the test.
template <class Dialog> void WhenShown(QObject* context, std::function<void(Dialog*)> answer)
{
    auto* poll = new QTimer(context);
    auto* waited = new QElapsedTimer;
    waited->start();
    QObject::connect(poll, &QTimer::timeout, context, [poll, waited, answer = std::move(answer)] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        const bool shown = dialog && dialog->isVisible();
        if (!shown && waited->elapsed() < 20000)
            return;
        poll->stop();
        poll->deleteLater();
        delete waited;
        if (!shown) {
            QFAIL("the dialog was not shown");
            return;
        }
        answer(dialog);
    });
    poll->start(20);
}

} // namespace

class MainFormTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::TempDir> tools_;
    std::unique_ptr<test::TempDir> clips_;
    std::unique_ptr<test::ScopedEnv> log_;
    std::unique_ptr<Forms> forms_;
    TForm1* form1_ = nullptr;
    TForm2* form2_ = nullptr;
    FakeChooser* chooser_ = nullptr;
    QStringList shown_;                             // what the error box would have shown
    int ends_ = 0;                                  // how often the application was asked to end
    std::int64_t nowMs_ = 0;                        // the type-ahead's clock
    std::vector<std::pair<double, bool>> progress_; // what the task-bar entry was told

    QString Clip(const QString& name)
    {
        const QString path = QString::fromStdString(*clips_ / name.toStdString());
        test::WriteFile(path.toStdString(), "RIFF " + name.toStdString());
        return path;
    }

    std::size_t ToolRuns() const { return test::ReadToolLog(*clips_ / "tools.log").size(); }

    // Presses "Process Queue" after `delayMs` from inside a run's wait (or at once).
    void At(int delayMs, const std::function<void()>& action) { QTimer::singleShot(delayMs, form1_, action); }

    std::function<void(const std::exception&)> realErrorBox_;

private slots:
    void initTestCase() { realErrorBox_ = TApplication::Instance()->showError; }

    void theErrorBox()
    {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QList<QAbstractButton*> buttons;
        Qt::WindowModality modality = Qt::NonModal;
        WhenShown<QMessageBox>(form1_, [&](QMessageBox* box) {
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttons = box->buttons();
            modality = box->windowModality();
            box->button(QMessageBox::Ok)->click();
        });
        TApplication::Instance()->showError = realErrorBox_;
        Guarded([] { throw Error(IoErrorMessage(183)); });
        QCOMPARE(title, QString("Quorvil"));
        QCOMPARE(text, QString("I/O error 183."));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(buttons.size(), 1);
        QCOMPARE(modality, Qt::ApplicationModal);
        QVERIFY(form1_->isVisible());
    }

    void init()
    {
        tools_ = std::make_unique<test::TempDir>();
        clips_ = std::make_unique<test::TempDir>();
        test::InstallFakeTools(*tools_);
        log_ = std::make_unique<test::ScopedEnv>("FAKE_TOOL_LOG", *clips_ / "tools.log");
        auto chooser = std::make_unique<FakeChooser>();
        chooser_ = chooser.get();
        progress_.clear();
        TForm1::Services services{std::move(chooser),
                                  {tools_->dir(), HostPathRules(), LaunchTool, nullptr, {}},
                                  [this] { ++ends_; },
                                  [this](double fraction, bool visible) {
                                      progress_.push_back({fraction, visible});
                                  },
                                  [this] { return nowMs_; }};
        forms_ = std::make_unique<Forms>(*TApplication::Instance(), std::move(services));
        form1_ = &forms_->main;
        form2_ = &forms_->about;
        shown_.clear();
        ends_ = 0;
        TApplication::Instance()->showError = [this](const std::exception& error) {
            shown_ << QString::fromStdString(ErrorBoxText(error, 1000));
        };
        form1_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form1_));
    }

    void cleanup()
    {
        forms_.reset();
        form1_ = nullptr;
        form2_ = nullptr;
        log_.reset();
        clips_.reset();
        tools_.reset();
        test::UnsetEnv("FAKE_SLEEP_MS");
    }

    void startsWithTheDefaults()
    {
        QCOMPARE(form1_->windowTitle(), QString("Quorvil"));
        QVERIFY(!QApplication::windowIcon().isNull());
        QVERIFY(!form1_->CheckBox1->isChecked());
        QVERIFY(form1_->CheckBox2->isChecked());
        QCOMPARE(form1_->Button1->text(), QString("Add AVI files"));
        QCOMPARE(form1_->Button3->text(), QString("Process Queue"));
        QCOMPARE(form1_->Quit1->shortcut(), QKeySequence(Qt::ALT | Qt::Key_F4));
        QVERIFY(form1_->StatusBar1->isSizeGripEnabled());
        QCOMPARE(form1_->StatusBar1->currentMessage(), QString());
        // Where Qt's own layouts could move them: the bars keep the design's heights.
        QCOMPARE(form1_->Panel1->height(), DesignedPixels(form1_, design::kPanelHeight));
        QCOMPARE(form1_->StatusBar1->height(), DesignedPixels(form1_, design::kStatusHeight));
        QVERIFY(!form2_->isVisible());
    }

    void tabOrder()
    {
        const QList<QWidget*> order{form1_->ListBox1,  form1_->Button1, form1_->Button2,
                                    form1_->CheckBox1, form1_->Button3, form1_->CheckBox2};
        // The next widget Tab reaches: the next one in the chain that takes focus by Tab.
        const auto nextTabStop = [](QWidget* w) {
            do
                w = w->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisible());
            return w;
        };
        for (qsizetype i = 0; i + 1 < order.size(); ++i)
            QCOMPARE(nextTabStop(order[i]), order[i + 1]);
    }

    void addAppendsTheChoiceAfterTheQueue()
    {
        form1_->AppendFiles({"/x/first.avi"});
        chooser_->answer = QStringList{"/c/a.avi", "/c/b.avi", "/c/c.avi"};
        QTest::mouseClick(form1_->Button1, Qt::LeftButton);
        QCOMPARE(Entries(form1_->ListBox1), (QStringList{"/x/first.avi", "/c/a.avi", "/c/b.avi", "/c/c.avi"}));

        chooser_->answer.reset(); // cancelled
        QTest::mouseClick(form1_->Button1, Qt::LeftButton);
        QCOMPARE(form1_->ListBox1->count(), 4);
        QCOMPARE(chooser_->asked, 2);
    }

    void deleteRemovesTheSelectedEntry_data()
    {
        QTest::addColumn<int>("selected");
        QTest::addColumn<bool>("rightClickOnThird");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("nothing selected") << -1 << false << QStringList{"a", "b", "c"};
        QTest::newRow("second selected") << 1 << false << QStringList{"a", "c"};
        QTest::newRow("right click on the third") << 1 << true << QStringList{"a", "c"};
    }

    void deleteRemovesTheSelectedEntry()
    {
        QFETCH(int, selected);
        QFETCH(bool, rightClickOnThird);
        QFETCH(QStringList, left);
        form1_->AppendFiles({"a", "b", "c"});
        if (selected >= 0)
            form1_->ListBox1->setCurrentRow(selected);
        if (rightClickOnThird) {
            const QRect third = form1_->ListBox1->visualItemRect(form1_->ListBox1->item(2));
            QTest::mouseClick(form1_->ListBox1->viewport(), Qt::RightButton, {}, third.center());
            QCOMPARE(form1_->ListBox1->currentRow(), 1); // a right click leaves the selection alone
            form1_->PopupMenu1->close();
        }
        form1_->Delete1->trigger();
        QCOMPARE(Entries(form1_->ListBox1), left);
        form1_->Delete1->trigger(); // nothing is selected after a Delete, as in a Windows list box
        QCOMPARE(Entries(form1_->ListBox1), left);
    }

    void theListHasTheFocusWhenTheWindowBecomesActive()
    {
        form1_->Button1->setFocus();
        QWidget other; // another application's window, say
        other.show();
        QApplication::setActiveWindow(&other);
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QApplication::setActiveWindow(form1_);
        QVERIFY(QTest::qWaitForWindowActive(form1_));
        QCOMPARE(QApplication::focusWidget(), form1_->ListBox1);
    }

    void shiftF10OpensTheContextMenuAtTheListsCorner()
    {
        QTest::keyClick(form1_->ListBox1, Qt::Key_F10, Qt::ShiftModifier);
        QVERIFY(form1_->PopupMenu1->isVisible());
        QCOMPARE(form1_->PopupMenu1->pos(), form1_->ListBox1->viewport()->mapToGlobal(QPoint(0, 0)));
        form1_->PopupMenu1->close();
    }

    void filesNamedAtStartAreMadeAbsolute()
    {
        QCOMPARE(StartFiles({"/c/a.avi", "b b.avi"}),
                 (QStringList{"/c/a.avi", QDir::current().absoluteFilePath("b b.avi")}));
    }

    void clearFromTheButtonAndFromTheContextMenu()
    {
        form1_->AppendFiles({"a", "b"});
        QTest::mouseClick(form1_->Button2, Qt::LeftButton);
        QCOMPARE(form1_->ListBox1->count(), 0);
        form1_->AppendFiles({"a", "b"});
        form1_->Clear1->trigger();
        QCOMPARE(form1_->ListBox1->count(), 0);
    }

    void aboutIsOneWindowThatKeepsItsPlace()
    {
        form1_->About1->trigger();
        QVERIFY(form2_->isVisible());
        form1_->About1->trigger();
        QCOMPARE(form1_->findChildren<TForm2*>().size(), 1);
        QVERIFY(!form2_->isModal());
        QVERIFY(form1_->isEnabled());

        form2_->move(40, 50);
        const QPoint place = form2_->pos();
        QTest::mouseClick(form2_->Button1, Qt::LeftButton);
        QVERIFY(!form2_->isVisible());
        form1_->About1->trigger();
        QVERIFY(form2_->isVisible());
        QCOMPARE(form2_->pos(), place);

        QTest::keyClick(form2_, Qt::Key_Escape); // does nothing
        QVERIFY(form2_->isVisible());
        QCOMPARE(form2_->Label1->text(), QString("Quorvil " QUORVIL_VERSION));
        QVERIFY(form2_->Label1->font().bold());
    }

    void altF4QuitsFromTheAboutWindow()
    {
        form1_->About1->trigger();
        QApplication::setActiveWindow(form2_);
        QVERIFY(QTest::qWaitForWindowActive(form2_));
        QTest::keyClick(form2_, Qt::Key_F4, Qt::AltModifier);
        QCOMPARE(ends_, 1);
    }

    void runConvertsTheQueueAndKeepsIt()
    {
        const QStringList queue{Clip("a.avi"), Clip("b.avi")};
        form1_->AppendFiles(queue);
        QTest::mouseClick(form1_->Button3, Qt::LeftButton);
        QCOMPARE(Entries(form1_->ListBox1), queue);
        QCOMPARE(ToolRuns(), std::size_t{6});
        QVERIFY(fs::exists(queue[1].toStdString() + "_processed/b.avi.A2.wav"));
        QVERIFY(shown_.isEmpty());
    }

    void errorsAreShownByTheFullStopRule()
    {
        const QString a = Clip("a.avi");
        form1_->AppendFiles({a});
        fs::create_directory(a.toStdString() + "_processed");
        QTest::mouseClick(form1_->Button3, Qt::LeftButton);
        QCOMPARE(shown_, QStringList{"I/O error 183."});

        // An entry removed while a tool runs: the last index is gone when the run comes to it.
        test::SetEnv("FAKE_SLEEP_MS", "300");
        form1_->CheckBox2->setChecked(false);
        form1_->AppendFiles({Clip("b.avi")});
        At(100, [this] { delete form1_->ListBox1->takeItem(0); });
        QTest::mouseClick(form1_->Button3, Qt::LeftButton);
        QCOMPARE(shown_.last(), QString("List index out of bounds (1)"));
        QVERIFY(form1_->isVisible());
    }

    void quitDuringARunWaitsForTheWholeQueue_data()
    {
        QTest::addColumn<bool>("byClosing");
        QTest::newRow("Quit") << false;
        QTest::newRow("closing the window") << true;
    }

    void quitDuringARunWaitsForTheWholeQueue()
    {
        QFETCH(bool, byClosing);
        test::SetEnv("FAKE_SLEEP_MS", "200");
        form1_->AppendFiles({Clip("a.avi"), Clip("b.avi")});
        int endsDuringRun = -1;
        At(100, [&] {
            if (byClosing)
                form1_->close();
            else
                form1_->Quit1->trigger();
            endsDuringRun = ends_;
        });
        QTest::mouseClick(form1_->Button3, Qt::LeftButton);
        QCOMPARE(endsDuringRun, 0);
        QVERIFY(form1_->isVisible());
        QCOMPARE(ToolRuns(), std::size_t{6});
        QCOMPARE(ends_, 1);
    }

    void quitWithoutARunEndsAtOnce()
    {
        form1_->Quit1->trigger();
        QCOMPARE(ends_, 1);
    }

    void whatHappensDuringARun()
    {
        // A second "Process Queue" does nothing; an entry added is not converted by this run. The
        // pointer says busy meanwhile, and the task-bar entry shows how far the run is.
        test::SetEnv("FAKE_SLEEP_MS", "200");
        form1_->CheckBox2->setChecked(false);
        form1_->AppendFiles({Clip("a.avi")});
        Qt::CursorShape during = Qt::ArrowCursor;
        At(100, [&] {
            during = QApplication::overrideCursor() ? QApplication::overrideCursor()->shape() : Qt::ArrowCursor;
            form1_->AppendFiles({Clip("late.avi")});
            QTest::mouseClick(form1_->Button3, Qt::LeftButton);
        });
        QTest::mouseClick(form1_->Button3, Qt::LeftButton);
        QCOMPARE(ToolRuns(), std::size_t{3});
        QCOMPARE(form1_->ListBox1->count(), 2);
        QVERIFY(shown_.isEmpty());
        QCOMPARE(during, Qt::BusyCursor);
        QVERIFY(!QApplication::overrideCursor());
        // One entry done of the two in the queue when it ended (the late one counts, as it is queued).
        QCOMPARE(progress_, (std::vector<std::pair<double, bool>>{{0.0, true}, {0.5, true}, {0.0, false}}));
    }

    void anchoredControlsAfterAResize()
    {
        const QPoint delete0 = form1_->CheckBox1->pos();
        const QPoint process0 = form1_->Button3->pos();
        const QPoint subdir0 = form1_->CheckBox2->pos();
        const QPoint add0 = form1_->Button1->pos();
        const int panel0 = form1_->Panel1->height();
        form1_->resize(form1_->width() + 100, form1_->height() + 60);
        QTRY_COMPARE(form1_->Button3->pos(), process0 + QPoint(100, 0));
        QCOMPARE(form1_->CheckBox1->pos(), delete0 + QPoint(100, 0));
        QCOMPARE(form1_->CheckBox2->pos(), subdir0);
        QCOMPARE(form1_->Button1->pos(), add0);
        QCOMPARE(form1_->Panel1->height(), panel0);
    }

    void typeAheadSelectsTheFirstMatch()
    {
        form1_->AppendFiles({"alpha", "Beta", "beta two", "gamma"});
        QTest::keyClicks(form1_->ListBox1, "BE");
        QCOMPARE(form1_->ListBox1->currentRow(), 1);
        QTest::keyClicks(form1_->ListBox1, "ta ");
        QCOMPARE(form1_->ListBox1->currentRow(), 2);
        QTest::keyClick(form1_->ListBox1, Qt::Key_Backspace);
        QCOMPARE(form1_->ListBox1->currentRow(), 1);
        nowMs_ += TypeAhead::kPauseMs; // a pause: a new search
        QTest::keyClicks(form1_->ListBox1, "g");
        QCOMPARE(form1_->ListBox1->currentRow(), 3);
        QTest::keyClick(form1_->ListBox1, Qt::Key_Delete); // no action
        QCOMPARE(form1_->ListBox1->count(), 4);
    }

    void openDialogTakesTypedNamesAndRemembersItsChoice()
    {
        OpenDialogChooser chooser;
        const QString dir = QString::fromStdString(clips_->path().string());
        QString title;
        QStringList filters;
        WhenShown<QFileDialog>(form1_, [&](QFileDialog* dialog) {
            title = dialog->windowTitle();
            const auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
            QVERIFY(types);
            for (int i = 0; i < types->count(); ++i)
                filters << types->itemText(i); // as shown
            dialog->setDirectory(dir);
            dialog->selectNameFilter(dialog->nameFilters().value(1));
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            QVERIFY(name);
            name->setText("not there yet.avi");
            QTest::keyClick(name, Qt::Key_Return);
        });
        const auto chosen = chooser.Choose(form1_);
        QCOMPARE(title, QString("Choose avi files"));
        QCOMPARE(filters, (QStringList{"AVI Files", "All files (*.*)"}));
        QVERIFY(chosen);
        QCOMPARE(*chosen, QStringList{dir + "/not there yet.avi"});

        QString filter;
        QStringList preselected;
        WhenShown<QFileDialog>(form1_, [&](QFileDialog* dialog) {
            filter = dialog->findChild<QComboBox*>("fileTypeCombo")->currentText();
            preselected = dialog->selectedFiles();
            dialog->reject();
        });
        QVERIFY(!chooser.Choose(form1_));
        QCOMPARE(filter, QString("All files (*.*)"));
        QCOMPARE(preselected, QStringList{dir + "/not there yet.avi"});
    }

    void theDialogReturnsExactlyTheFilesChosenAndSavesNothing()
    {
        OpenDialogChooser chooser;
        const QString dir = QString::fromStdString(clips_->path().string());
        QStringList names{"b.avi", "dq\"uote.avi"};
        for (const QString& name : names)
            Clip(name);
        QDir(dir).mkdir("folder.avi");
        // The dialog in dir; once its files and the folder are listed, select() chooses in its view.
        const auto choose = [&](int files, const std::function<void(QAbstractItemView*, QFileSystemModel*)>& select) {
            WhenShown<QFileDialog>(form1_, [&](QFileDialog* dialog) {
                // Whatever fails below, the dialog closes and the test goes on.
                const auto close =
                    qScopeGuard([dialog] { QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection); });
                dialog->setDirectory(dir);
                auto* view = dialog->findChild<QAbstractItemView*>(
                    dialog->viewMode() == QFileDialog::Detail ? "treeView" : "listView");
                auto* model = dialog->findChild<QFileSystemModel*>();
                QVERIFY(view && model);
                QTRY_COMPARE(model->rowCount(model->index(dir)), files + 1);
                // Every column but the name shows its text whole: a size or a date cut tells nothing.
                if (auto* details = qobject_cast<QTreeView*>(view)) {
                    for (int column = 1; column < model->columnCount(); ++column)
                        QTRY_VERIFY2(details->header()->sectionSize(column) >= view->sizeHintForColumn(column),
                                     qPrintable(model->headerData(column, Qt::Horizontal).toString()));
                }
                select(view, model);
                QMetaObject::invokeMethod(dialog, "accept"); // as the Open button does
            });
            return chooser.Choose(form1_);
        };
        auto chosen = choose(2, [&](QAbstractItemView* view, QFileSystemModel* model) {
            // A click on one, a Ctrl+click on the other, as the user chooses them.
            for (const QString& name : names) {
                const QRect item = view->visualRect(model->index(dir + "/" + name));
                QTest::mouseClick(view->viewport(), Qt::LeftButton,
                                  name == names.first() ? Qt::NoModifier : Qt::ControlModifier, item.center());
            }
            QCOMPARE(view->window()->findChild<QLineEdit*>("fileNameEdit")->text(),
                     QString("\"b.avi\" \"dq\"uote.avi\""));
        });
        QVERIFY(chosen);
        QCOMPARE(*chosen, (QStringList{dir + "/b.avi", dir + "/dq\"uote.avi"}));
        // More names than the name field holds: it shows the first of them; all are taken.
        for (int i = 0; i < 300; ++i) {
            names << QString("%1%2.avi").arg(i).arg(QString(120, 'x'));
            QFile(dir + "/" + names.back()).open(QIODevice::WriteOnly);
        }
        chosen = choose(302, [](QAbstractItemView* view, QFileSystemModel*) {
            view->setFocus(); // as a click gives it: the field follows the selection
            view->selectAll();
        });
        QVERIFY(chosen);
        QCOMPARE(chosen->size(), names.size());
        names.replaceInStrings(QRegularExpression("^"), dir + "/");
        QCOMPARE(QSet<QString>(chosen->begin(), chosen->end()), QSet<QString>(names.begin(), names.end()));
        // Qt's file dialog keeps a history; nothing of it outlives the run.
        QVERIFY(!QFile::exists(qEnvironmentVariable("XDG_CONFIG_HOME") + "/QtProject.conf"));
    }

    void theOpenButtonTakesTypedNamesOfFilesThatDoNotExist()
    {
        OpenDialogChooser chooser;
        const QString dir = QString::fromStdString(clips_->path().string());
        Clip("with space.avi"); // typing selects it in the list
        const std::pair<QString, QStringList> rows[] = {
            {"not there yet.avi", {dir + "/not there yet.avi"}},
            {"\"with space.avi\" \"nonexistent.avi\"", {dir + "/with space.avi", dir + "/nonexistent.avi"}},
        };
        for (const auto& [typed, expected] : rows) {
            bool enabled = false;
            WhenShown<QFileDialog>(form1_, [&](QFileDialog* dialog) {
                const auto close =
                    qScopeGuard([dialog] { QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection); });
                dialog->setDirectory(dir);
                auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                auto* buttons = dialog->findChild<QDialogButtonBox*>("buttonBox");
                auto* model = dialog->findChild<QFileSystemModel*>();
                QVERIFY(name && buttons && model);
                QPushButton* open = buttons->button(QDialogButtonBox::Open);
                QVERIFY(open);
                QTRY_VERIFY(model->rowCount(model->index(dir)) > 0);
                // Typed into the field as a user types, with the focus there: the dialog writes its
                // list's selection into a field without the focus, over what was typed.
                QApplication::setActiveWindow(dialog);
                name->setFocus(Qt::OtherFocusReason);
                QTRY_VERIFY(name->hasFocus());
                name->setText(typed); // as typed, without the completer's pop-up, which takes no keys here
                QCoreApplication::processEvents();
                enabled = open->isEnabled();
                QTest::mouseClick(open, Qt::LeftButton);
            });
            const auto chosen = chooser.Choose(form1_);
            QVERIFY(enabled);
            QVERIFY(chosen);
            QCOMPARE(*chosen, expected);
        }
    }

    void theErrorBoxIsCutToTheScreensHeight()
    {
        FailureReport report;
        for (int i = 1; i <= 65; ++i)
            report.NotConverted("/home/ann/clips/take " + std::to_string(i) + ".avi",
                                "vdub ended with exit code 1 (the file has no sound)", false, false);
        QRect box;
        QString text;
        WhenShown<QMessageBox>(form1_, [&](QMessageBox* shown) {
            box = shown->frameGeometry();
            text = shown->text();
            shown->button(QMessageBox::Ok)->click();
        });
        TApplication::Instance()->showError = realErrorBox_;
        form1_->activateWindow();
        Guarded([&] { throw RunFailed(report); });
        const QRect screen = form1_->screen()->availableGeometry();
        QVERIFY2(box.height() <= screen.height(),
                 qPrintable(QString("%1 > %2").arg(box.height()).arg(screen.height())));
        QVERIFY(text.startsWith("65 files were not converted:\n"));
        QVERIFY(text.contains(QRegularExpression("\\.\\.\\. and \\d+ more files were not converted\\.$")));
    }

    void aSignalEndsTheToolCleansUpAndEndsTheApplication()
    {
        // The run's private directory is made under $TMPDIR: a folder of this test's own, to look into.
        const test::TempDir temp;
        const test::ScopedEnv tmpdir("TMPDIR", temp.path().string());
        const test::ScopedEnv runtime("XDG_RUNTIME_DIR", "");
        test::SetEnv("FAKE_SLEEP_MS", "20000");
        const QString a = Clip("a.avi");
        form1_->AppendFiles({a, Clip("b.avi")});
        const EndSignals signals_(
            [this](int signal) { form1_->Interrupt("ended by signal " + std::to_string(signal)); });
        At(300, [] { std::raise(SIGTERM); });
        QTest::mouseClick(form1_->Button3, Qt::LeftButton);
        QCOMPARE(ends_, 1);
        QVERIFY(shown_.isEmpty());
        QVERIFY(fs::exists(a.toStdString()));
        QVERIFY(!fs::exists(a.toStdString() + "_processed"));
        QVERIFY(fs::is_empty(temp.path()));
    }

    void droppedFilesAreAppended()
    {
        form1_->AppendFiles({"/x/first.avi"});
        QMimeData data;
        data.setUrls(
            {QUrl::fromLocalFile("/d/one.avi"), QUrl("https://example.org/x.avi"), QUrl::fromLocalFile("/d/two.avi")});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(form1_->ListBox1->viewport(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(form1_->ListBox1->viewport(), &drop);
        QCOMPARE(Entries(form1_->ListBox1), (QStringList{"/x/first.avi", "/d/one.avi", "/d/two.avi"}));

        // A folder stands for the AVI files directly inside it, in name order; one without any adds nothing.
        const QDir dir(QString::fromStdString(clips_->path().string()));
        for (const char* name : {"b.AVI", "a.avi", "notes.txt"})
            test::WriteFile(dir.filePath(name).toStdString(), "x");
        dir.mkpath("inner.avi");
        dir.mkpath("empty");
        QMimeData folders;
        folders.setUrls({QUrl::fromLocalFile(dir.path()), QUrl::fromLocalFile(dir.filePath("empty"))});
        QDragEnterEvent enterFolders(QPoint(5, 5), Qt::CopyAction, &folders, Qt::LeftButton, {});
        QApplication::sendEvent(form1_->ListBox1->viewport(), &enterFolders);
        QDropEvent dropFolders(QPointF(5, 5), Qt::CopyAction, &folders, Qt::LeftButton, {});
        QApplication::sendEvent(form1_->ListBox1->viewport(), &dropFolders);
        QCOMPARE(Entries(form1_->ListBox1).mid(3), (QStringList{dir.filePath("a.avi"), dir.filePath("b.AVI")}));
    }
};

} // namespace quorvil

int main(int argc, char** argv)
{
    // Where Qt would keep settings: a fresh folder, to see that nothing is written there.
    const quorvil::test::TempDir config;
    quorvil::test::SetEnv("XDG_CONFIG_HOME", config.path().string());
    quorvil::TApplication application(argc, argv);
    quorvil::MainFormTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "mainfrm_test.moc"
