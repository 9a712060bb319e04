#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QMainWindow>
#include <QStringList>

#include "form_host.h"
#include "open_dialog.h"
#include "queue_form.h"
#include "type_ahead.h"

class QAction;
class QCheckBox;
class QMenu;
class QMenuBar;
class QPushButton;
class QStatusBar;

namespace quorvil {

class AnchoredPanel;
class QueueListBox;
class TForm2;

// The main window: the queue, its options and commands. What it does is the queue form's logic
// (QueueForm); this class puts the design table on screen and feeds it the window's events.
class TForm1 : public QMainWindow, private QueueView {
public:
    using Services = FormServices<FileChooser>;
    [[nodiscard]] static Services DefaultServices();

    explicit TForm1(FormHost& application, Services services = DefaultServices());
    ~TForm1() override;

    void SetAboutForm(TForm2* form) { aboutForm_ = form; }

    QueueListBox* ListBox1;
    AnchoredPanel* Panel1;
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

    // Appends paths to the queue, in order (the open dialog's answer, dropped files).
    void AppendFiles(const QStringList& paths);

    // Shows the window centred on the primary screen, as at the application's start.
    void ShowCentred();

    // A stop asked for from outside (a signal): see QueueForm::Interrupt.
    void Interrupt(const std::string& why) { queue_.Interrupt(why); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void CreateComponents();
    void CreateMenus();
    void LayOut();
    void ConnectCommands();

    [[nodiscard]] int EntryCount() const override;
    [[nodiscard]] std::optional<std::string> Entry(int index) const override;
    void AppendEntries(const std::vector<std::string>& paths) override;
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
    QueueForm queue_;
    TForm2* aboutForm_ = nullptr;
};

} // namespace quorvil
