#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include <QApplication>
#include <QMainWindow>
#include <QStringList>
#include <QTemporaryDir>

#include "queue_run.h"
#include "quit_gate.h"
#include "run_progress.h"

class QAction;
class QCheckBox;
class QFileDialog;
class QListWidget;
class QMenu;
class QMenuBar;
class QPushButton;
class QStatusBar;

namespace quorvil {

class TForm2;

// Where "Add AVI files" gets the user's choice; tests answer without showing a dialog.
class FileChooser {
public:
    virtual ~FileChooser() = default;
    // The chosen files, full paths in the dialog's order; nothing when the user cancels.
    [[nodiscard]] virtual std::optional<QStringList> Choose(QWidget* parent) = 0;
};

// The file-open dialog. One object for the application's run, so that it remembers the filter
// and the file name last chosen (in memory only: nothing is saved).
class OpenDialogChooser : public FileChooser {
public:
    std::optional<QStringList> Choose(QWidget* parent) override;

private:
    QString lastFilter_;
    QString lastFile_;
};

// The application object: its title, its windows, and the one place where an error that
// escapes a command is shown.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);

    // Creates the main window and the hidden About window, shows the main window, runs the loop.
    int Run();

    // Shows the error's text by the full-stop rule in the error box, and goes on.
    void ShowException(const std::exception& error);

    // What puts the text on screen: a modal box by default; tests read the text instead.
    std::function<void(const QString& text)> showError;

    [[nodiscard]] static TApplication* Instance();

    // The files named on the command line, made absolute: the queue at start ("Open with").
    [[nodiscard]] static QStringList StartFiles(const QStringList& arguments);

private:
    // Where Qt's own settings (the file dialog's history) go: nowhere that outlives the run.
    QTemporaryDir settings_;
};

// Shows a top-level window centred on the primary screen, its frame included where the window
// manager draws one, and never at a negative position.
void ShowCentred(QWidget* window);

// Runs a command of a window; an error that escapes it goes to the application's error display.
template <class Command> void Guarded(Command&& command)
{
    try {
        command();
    } catch (const std::exception& error) {
        TApplication::Instance()->ShowException(error);
    }
}

class TForm1 : public QMainWindow {
public:
    // What the window works with; tests replace parts of it.
    struct Services {
        std::unique_ptr<FileChooser> chooser;
        RunEnvironment environment;
        std::function<void()> endApplication; // asks the event loop to end
        // Shows a run's progress on the application's task-bar entry (fraction, visible).
        std::function<void(double, bool)> showProgress;
    };
    [[nodiscard]] static Services DefaultServices();

    explicit TForm1(Services services = DefaultServices());
    ~TForm1() override;

    void SetAboutForm(TForm2* form) { aboutForm_ = form; }

    // The components, by the names the whole team uses for them.
    QListWidget* ListBox1;
    QWidget* Panel1;
    QPushButton* Button1;
    QPushButton* Button2;
    QCheckBox* CheckBox1;
    QPushButton* Button3;
    QCheckBox* CheckBox2;
    QStatusBar* StatusBar1;
    QMenuBar* MainMenu1;
    QMenu* File1;
    QAction* Quit1;
    QMenu* Help1;
    QAction* About1;
    QMenu* PopupMenu1;
    QAction* Delete1;
    QAction* Clear1;
    FileChooser* OpenDialog1;

    void Button1Click(); // Add
    void Button2Click(); // Clear
    void Button3Click(); // Process Queue
    void Delete1Click();
    void About1Click();
    void Quit1Click();

    // Appends paths to the queue, in order (the open dialog's answer, dropped files).
    void AppendFiles(const QStringList& paths);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void CreateMenus();
    void LayOut();
    // Runs a command under the error display, then ends the application if that became due.
    void Command(const std::function<void()>& command);

    Services services_;
    QueueRunner runner_;
    RunProgress progress_;
    QuitGate quitGate_;
    TForm2* aboutForm_ = nullptr;
};

} // namespace quorvil
