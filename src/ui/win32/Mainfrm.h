#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

#include "form_host.h"
#include "form_support.h"
#include "open_dialog.h"
#include "queue_form.h"
#include "shell_files.h"
#include "type_ahead.h"

namespace quorvil {

class AnchoredPanel;
class QueueListBox;
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

// The main window: the queue, its options and commands. What it does is the queue form's logic
// (QueueForm); this class puts the design table on screen and routes the window's messages to it.
// The application that owns it is given as it is made.
class TForm1 : private QueueView {
public:
    using Services = FormServices<FileChooser>;
    [[nodiscard]] static Services DefaultServices(FormHost& application);

    TForm1(FormHost& application, Services services);
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    void SetAboutForm(TForm2* form) { aboutForm_ = form; }

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

    // Appends paths to the queue, in order.
    void AppendFiles(const std::vector<std::string>& paths);
    // Appends the files the shell handed over (a drop, the command line).
    void AddShellFiles(const ShellFiles& files);
    [[nodiscard]] std::vector<std::string> Entries() const;

    // Shows the window with a show command, centred at its first showing.
    void Show(int showCommand);

    // The end of the application asked for (a quit request found while a run waits).
    void RequestEnd() { queue_.RequestEnd(); }

private:
    template <class Form> friend LRESULT CALLBACK FormWindowProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateMenus();
    void CreateComponents();
    void LayOut();
    void OnSize(int width, int height);
    bool OnCommand(int id, int code, HWND control);
    bool OnContextMenu(HWND window, LPARAM at);

    [[nodiscard]] int EntryCount() const override;
    [[nodiscard]] std::optional<std::string> Entry(int index) const override;
    void AppendEntries(const std::vector<std::string>& paths) override { AppendFiles(paths); }
    void ClearEntries() override;
    [[nodiscard]] std::optional<int> SelectedEntry() const override;
    void RemoveEntry(int index) override;
    [[nodiscard]] std::optional<std::vector<std::string>> ChooseFiles() override;
    void ShowAbout() override;
    [[nodiscard]] bool PlaceInSubdirectory() const override;
    [[nodiscard]] bool DeleteOriginals() const override;
    void ShowError(const std::exception& error) override;
    void ProcessEvents() override;
    void ShowBusyPointer(bool busy) override;

    FormHost& application_;
    Services services_;
    FormFont font_;
    QueueForm queue_;
    std::unique_ptr<QueueListBox> list_;
    std::unique_ptr<AnchoredPanel> panel_;
    FocusedButtonDefault defaultLook_{};
    TForm2* aboutForm_ = nullptr;
    bool shownBefore_ = false;
};

} // namespace quorvil
