// The desktop windows, headless (QT_QPA_PLATFORM=offscreen), with fake tools for the runs.
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "Mainfrm.h"
#include "Unit2.h"
#include "errors.h"
#include "host.h"
#include "layout.h"
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

QStringList Entries(const QListWidget* list)
{
    QStringList entries;
    for (int i = 0; i < list->count(); ++i)
        entries << list->item(i)->text();
    return entries;
}

} // namespace

class MainFormTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::TempDir> tools_;
    std::unique_ptr<test::TempDir> clips_;
    std::unique_ptr<test::ScopedEnv> log_;
    std::unique_ptr<TForm1> form1_;
    std::unique_ptr<TForm2> form2_;
    FakeChooser* chooser_ = nullptr;
    QStringList shown_;                             // what the error box would have shown
    int ends_ = 0;                                  // how often the application was asked to end
    std::vector<std::pair<double, bool>> progress_; // what the task-bar entry was told

    QString Clip(const QString& name)
    {
        const QString path = QString::fromStdString(*clips_ / name.toStdString());
        test::WriteFile(path.toStdString(), "RIFF " + name.toStdString());
        return path;
    }

    std::size_t ToolRuns() const { return test::ReadToolLog(*clips_ / "tools.log").size(); }

    // Presses "Process Queue" after `delayMs` from inside a run's wait (or at once).
    void At(int delayMs, const std::function<void()>& action) { QTimer::singleShot(delayMs, form1_.get(), action); }

    std::function<void(const QString&)> realErrorBox_;

private slots:
    void initTestCase() { realErrorBox_ = TApplication::Instance()->showError; }

    void theErrorBox()
    {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QList<QAbstractButton*> buttons;
        Qt::WindowModality modality = Qt::NonModal;
        At(200, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
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
                                  {tools_->dir(), HostPathRules(), LaunchTool, nullptr},
                                  [this] { ++ends_; },
                                  [this](double fraction, bool visible) {
                                      progress_.push_back({fraction, visible});
                                  }};
        form1_ = std::make_unique<TForm1>(std::move(services));
        form2_ = std::make_unique<TForm2>(form1_.get());
        form1_->SetAboutForm(form2_.get());
        shown_.clear();
        ends_ = 0;
        TApplication::Instance()->showError = [this](const QString& text) { shown_ << text; };
        form1_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form1_.get()));
    }

    void cleanup()
    {
        form2_.reset();
        form1_.reset();
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
        const int textHeight = QFontMetrics(form1_->font()).height();
        QCOMPARE(form1_->Panel1->height(), ScaleForText(44, textHeight));
        QCOMPARE(form1_->StatusBar1->height(), ScaleForText(19, textHeight));
        QCOMPARE(form1_->Button3->geometry(), QRect(ScaleForText(485, textHeight), ScaleForText(11, textHeight),
                                                    ScaleForText(89, textHeight), ScaleForText(25, textHeight)));
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
        QApplication::setActiveWindow(form1_.get());
        QVERIFY(QTest::qWaitForWindowActive(form1_.get()));
        QCOMPARE(QApplication::focusWidget(), form1_->ListBox1);
    }

    void shiftF10OpensTheContextMenuAtTheListsCorner()
    {
        QTest::keyClick(form1_->ListBox1, Qt::Key_F10, Qt::ShiftModifier);
        QVERIFY(form1_->PopupMenu1->isVisible());
        QCOMPARE(form1_->PopupMenu1->pos(), form1_->ListBox1->mapToGlobal(QPoint(0, 0)));
        form1_->PopupMenu1->close();
    }

    void filesNamedAtStartAreMadeAbsolute()
    {
        QCOMPARE(TApplication::StartFiles({"quorvil", "/c/a.avi", "b b.avi"}),
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

        QTest::keyClick(form2_.get(), Qt::Key_Escape); // does nothing
        QVERIFY(form2_->isVisible());
        QCOMPARE(form2_->Label1->text(), QString("Quorvil 1.5"));
        QVERIFY(form2_->Label1->font().bold());
    }

    void altF4QuitsFromTheAboutWindow()
    {
        form1_->About1->trigger();
        QApplication::setActiveWindow(form2_.get());
        QVERIFY(QTest::qWaitForWindowActive(form2_.get()));
        QTest::keyClick(form2_.get(), Qt::Key_F4, Qt::AltModifier);
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
        QTest::qWait(600);
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
        At(200, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            title = dialog->windowTitle();
            filters = dialog->nameFilters();
            dialog->setDirectory(dir);
            dialog->selectNameFilter(filters.value(1));
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            QVERIFY(name);
            name->setText("not there yet.avi");
            QTest::keyClick(name, Qt::Key_Return);
        });
        const auto chosen = chooser.Choose(form1_.get());
        QCOMPARE(title, QString("Choose avi files"));
        QCOMPARE(filters, (QStringList{"AVI Files (*.avi)", "All files (*.*)"}));
        QVERIFY(chosen);
        QCOMPARE(*chosen, QStringList{dir + "/not there yet.avi"});

        QString filter;
        QStringList preselected;
        At(200, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            filter = dialog->selectedNameFilter();
            preselected = dialog->selectedFiles();
            dialog->reject();
        });
        QVERIFY(!chooser.Choose(form1_.get()));
        QCOMPARE(filter, QString("All files (*.*)"));
        QCOMPARE(preselected, QStringList{dir + "/not there yet.avi"});
    }

    void theDialogReturnsExactlyTheFilesChosenAndSavesNothing()
    {
        OpenDialogChooser chooser;
        const QString dir = QString::fromStdString(clips_->path().string());
        const QStringList names{"b.avi", "dq\"uote.avi"};
        for (const QString& name : names)
            Clip(name);
        QDir(dir).mkdir("folder.avi");
        At(300, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            // Whatever fails below, the dialog closes and the test goes on.
            const auto close =
                qScopeGuard([dialog] { QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection); });
            dialog->setDirectory(dir);
            auto* view = dialog->findChild<QAbstractItemView*>(
                dialog->viewMode() == QFileDialog::Detail ? "treeView" : "listView");
            auto* model = dialog->findChild<QFileSystemModel*>();
            QVERIFY(view && model);
            QTRY_COMPARE(model->rowCount(model->index(dir)), 3); // the folder and the two files
            // A click on one, a Ctrl+click on the other, as the user chooses them.
            for (const QString& name : names) {
                const QRect item = view->visualRect(model->index(dir + "/" + name));
                QTest::mouseClick(view->viewport(), Qt::LeftButton,
                                  name == names.first() ? Qt::NoModifier : Qt::ControlModifier, item.center());
            }
            QCOMPARE(dialog->findChild<QLineEdit*>("fileNameEdit")->text(), QString("\"b.avi\" \"dq\"uote.avi\""));
            QMetaObject::invokeMethod(dialog, "accept"); // as the Open button does
        });
        const auto chosen = chooser.Choose(form1_.get());
        QVERIFY(chosen);
        QCOMPARE(*chosen, (QStringList{dir + "/b.avi", dir + "/dq\"uote.avi"}));
        // Qt's file dialog keeps a history; nothing of it outlives the run.
        QVERIFY(!QFile::exists(qEnvironmentVariable("XDG_CONFIG_HOME") + "/QtProject.conf"));
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
