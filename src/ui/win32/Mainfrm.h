#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

#include "queue_run.h"
#include "quit_gate.h"
#include "run_progress.h"

namespace quorvil {

class TForm1;
class TForm2;

// Command and control identifiers of the main window.
enum : int {
    kQuit1 = 101,
    kAbout1 = 102,
    kDelete1 = 103,
    kClear1 = 104,
    kListBox1 = 201,
    kButton1 = 202,
    kButton2 = 203,
    kCheckBox1 = 204,
    kButton3 = 205,
    kCheckBox2 = 206,
    kStatusBar1 = 207,
    kPanel1 = 208,
};

// Where "Add AVI files" gets the user's choice; tests may answer without showing a dialog.
class FileChooser {
public:
    virtual ~FileChooser() = default;
    // The chosen files, full paths in the dialog's order; nothing when the user cancels or the
    // dialog fails.
    [[nodiscard]] virtual std::optional<std::vector<std::string>> Choose(HWND owner) = 0;
};

// The common open dialog. One object for the application's run, so that it remembers the filter and
// the file name last chosen.
class OpenDialogChooser : public FileChooser {
public:
    std::optional<std::vector<std::string>> Choose(HWND owner) override;

private:
    DWORD filterIndex_ = 1;
    std::string lastFile_;
};

// The application object: the hidden top-level window that carries the one task-bar button and
// owns both forms, the event loop, and the one place where an error that escapes a command is shown.
class TApplication {
public:
    explicit TApplication(HINSTANCE instance);
    ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    [[nodiscard]] static TApplication* Instance();
    [[nodiscard]] HINSTANCE instance() const { return instance_; }
    [[nodiscard]] HWND Handle() const { return handle_; }
    [[nodiscard]] HICON Icon() const { return icon_; }

    // Creates the main window and the hidden About window, shows the main window with the show
    // command the process was started with, and runs the loop until the application ends.
    int Run(int showCommand);

    // The pending-event processing the launcher calls while it waits: every waiting message is
    // taken and dispatched, and it never blocks. A quit request found here marks the application
    // as ending and is consumed.
    void ProcessMessages();

    // One message as the loop handles it: Alt+F4 before the window system sees it, then the
    // dialog keys (Tab, Enter, Space) of the form it is for, then the window's own procedure.
    void HandleMessage(MSG& message);

    // Asks for the end of the application; a run under way converts its whole queue first.
    void Terminate();
    [[nodiscard]] bool Terminated() const { return terminated_; }

    // Shows the error's text by the full-stop rule in the error box, and goes on.
    void ShowException(const std::exception& error);

    // What puts the text on screen: the error box by default; tests may read the text instead.
    std::function<void(const std::string& text)> showError;

    // The main window, once created.
    TForm1* MainForm = nullptr;
    TForm2* AboutForm = nullptr;

    // Shows a run's progress on the task-bar button (ITaskbarList3), or takes it away.
    void ShowProgress(double fraction, bool visible);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;
    HWND handle_ = nullptr;
    HICON icon_ = nullptr;
    HICON smallIcon_ = nullptr;
    bool terminated_ = false;
    HWND lastActive_ = nullptr;
    struct Taskbar;
    std::unique_ptr<Taskbar> taskbar_;
};

// Runs a command of a window; an error that escapes it goes to the application's error display.
template <class Command> void Guarded(Command&& command)
{
    try {
        command();
    } catch (const std::exception& error) {
        TApplication::Instance()->ShowException(error);
    }
}

// Font, text height and the scaling of the layout designed at a text height of 13 pixels.
struct FormFont {
    HFONT normal = nullptr;
    HFONT bold = nullptr;
    int textHeight = 13; // the measured height of "0"

    [[nodiscard]] int Scale(int designPixels) const;
};
[[nodiscard]] FormFont CreateFormFont();
void DeleteFormFont(FormFont& font);

// Shows a form centred on the primary screen's work area, never at a negative position.
void CentreOnPrimaryScreen(HWND window);

// The window procedure of a form class: the form object comes with WM_NCCREATE and is kept in the
// window's user data; its Message() handles what follows.
template <class Form> LRESULT CALLBACK FormWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* form = static_cast<Form*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
        form->Handle = window;
    }
    auto* form = reinterpret_cast<Form*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!form)
        return DefWindowProcA(window, message, wParam, lParam);
    return form->Message(message, wParam, lParam);
}

// Registers a window class of the program the first time it is asked for.
void RegisterClassOnce(const char* name, WNDPROC procedure, HICON icon, int background);

class TForm1 {
public:
    // What the window works with; tests replace parts of it.
    struct Services {
        std::unique_ptr<FileChooser> chooser;
        RunEnvironment environment;
        std::function<void()> endApplication; // asks the event loop to end
        std::function<void(double, bool)> showProgress;
    };
    [[nodiscard]] static Services DefaultServices();

    explicit TForm1(Services services = DefaultServices());
    ~TForm1();
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    void SetAboutForm(TForm2* form) { aboutForm_ = form; }

    // The components, by the names the whole team uses for them.
    HWND Handle = nullptr;
    HWND ListBox1 = nullptr;
    HWND Panel1 = nullptr;
    HWND Button1 = nullptr;
    HWND Button2 = nullptr;
    HWND CheckBox1 = nullptr;
    HWND Button3 = nullptr;
    HWND CheckBox2 = nullptr;
    HWND StatusBar1 = nullptr;
    HMENU MainMenu1 = nullptr;
    HMENU File1 = nullptr;
    HMENU Help1 = nullptr;
    HMENU PopupMenu1 = nullptr;
    FileChooser* OpenDialog1 = nullptr;

    void Button1Click(); // Add
    void Button2Click(); // Clear
    void Button3Click(); // Process Queue
    void Delete1Click();
    void About1Click();
    void Quit1Click();

    // Appends paths to the queue, in order.
    void AppendFiles(const std::vector<std::string>& paths);
    [[nodiscard]] std::vector<std::string> Entries() const;
    [[nodiscard]] bool RunUnderWay() const { return runner_.Busy(); }

    // Shows the window with a show command, centred at its first showing.
    void Show(int showCommand);

    // The end asked for during a run, due now that no command runs any more.
    [[nodiscard]] bool TakeEndDue() { return quitGate_.TakeEndDue(runner_.Busy()); }
    void RequestEnd() { quitGate_.RequestEnd(); }

private:
    template <class Form> friend LRESULT CALLBACK FormWindowProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                     DWORD_PTR data);
    LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateComponents();
    void LayOut();
    void ShowContextMenu(LPARAM at);
    void TypeAheadKey(WPARAM key);
    // Runs a command under the error display, then ends the application if that became due.
    void Command(const std::function<void()>& command);

    Services services_;
    QueueRunner runner_;
    RunProgress progress_;
    QuitGate quitGate_;
    TForm2* aboutForm_ = nullptr;
    FormFont font_;
    bool shownBefore_ = false;
    struct Anchor {
        HWND control;
        int rightGap;
    };
    std::vector<Anchor> anchoredRight_;
    struct Search;
    std::unique_ptr<Search> search_;
};

} // namespace quorvil
