// The Windows windows in process, under Wine on an X server of the test run's own: commands
// through the controls' own messages, the real open dialog and error box answered from a thread.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <tuple>
#include <utility>

#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "ansi_path_win32.h"
#include "application.h"
#include "errors.h"
#include "error_box_text.h"
#include "file_ops.h"
#include "form_design.h"
#include "forms.h"
#include "host.h"
#include "shell_files.h"
#include "test_support.h"
#include "wait_for.h"

namespace quorvil {
namespace {

using namespace std::chrono_literals;

std::string Text(HWND window)
{
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::string MenuText(HMENU menu, UINT position)
{
    char text[256] = {};
    GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
    return text;
}

// A control's rectangle in its parent's client coordinates.
RECT PlaceOf(HWND control)
{
    RECT box;
    GetWindowRect(control, &box);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&box), 2);
    return box;
}

void Pump(std::chrono::milliseconds time)
{
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
        TApplication::Instance()->ProcessMessages();
        Sleep(10);
    }
}

// Waits on a thread of its own for a dialog of the system ("#32770") with the caption given to be
// shown, then acts on it; what it found is read after join().
class DialogAnswer {
public:
    DialogAnswer(const char* caption, std::function<void(HWND)> act)
        : thread_([this, caption, act = std::move(act)] {
              if (const HWND dialog = test::WaitForDialog(caption, 20000)) {
                  found_ = true;
                  act(dialog);
              }
          })
    {
    }
    ~DialogAnswer()
    {
        if (thread_.joinable())
            thread_.join();
    }
    bool Found()
    {
        thread_.join();
        return found_;
    }

private:
    std::atomic<bool> found_{false};
    std::thread thread_;
};

class FakeChooser : public FileChooser {
public:
    std::optional<std::vector<std::string>> answer;
    FileChooser* dialog = nullptr; // the real one, where a test answers it
    std::optional<ShellFiles> Choose(HWND owner) override
    {
        return dialog ? dialog->Choose(owner) : answer ? std::optional<ShellFiles>(ShellFiles{*answer}) : std::nullopt;
    }
};

class WindowsUiTest : public ::testing::Test {
protected:
    WindowsUiTest() : log_("FAKE_TOOL_LOG", clips / "tools.log")
    {
        test::InstallFakeTools(tools);
        auto chooser = std::make_unique<FakeChooser>();
        chooser_ = chooser.get();
        forms = std::make_unique<Forms>(*TApplication::Instance(),
                                        TForm1::Services{std::move(chooser),
                                                         {tools.dir(), HostPathRules(), LaunchTool, nullptr, {}},
                                                         [this] { ++ends; },
                                                         [this](double, bool) { pointers.push_back(GetCursor()); },
                                                         [this] { return nowMs; }});
        form1 = &forms->main;
        form2 = &forms->about;
        form1->Show(SW_SHOWNORMAL);
        Pump(50ms);
    }

    std::string Clip(const std::string& name)
    {
        const std::string path = clips.dir() + name;
        test::WriteFile(path, test::AviBytes(1));
        return path;
    }

    void Click(HWND button) { SendMessageA(button, BM_CLICK, 0, 0); }

    test::TempDir tools;
    test::TempDir clips;
    std::unique_ptr<Forms> forms;
    TForm1* form1 = nullptr;
    TForm2* form2 = nullptr;
    FakeChooser* chooser_ = nullptr;
    int ends = 0;
    std::int64_t nowMs = 0;        // the type-ahead's clock
    std::vector<HCURSOR> pointers; // the pointer as each step of a run was shown

private:
    test::ScopedEnv log_;
};

TEST_F(WindowsUiTest, TheMainWindowHasItsComponentsAsDesigned)
{
    EXPECT_EQ(Text(form1->Handle), "Quorvil");
    EXPECT_EQ(GetWindow(form1->Handle, GW_OWNER), TApplication::Instance()->Handle()); // no task-bar button of its own
    EXPECT_EQ(Text(TApplication::Instance()->Handle()), "Quorvil");
    for (const auto& [control, text] :
         std::vector<std::pair<HWND, std::string>>{{form1->ListBox1, "Queue"}, // unseen; a screen reader's name
                                                   {form1->Button1, "Add AVI files"},
                                                   {form1->Button2, "Clear"},
                                                   {form1->CheckBox1, "Delete original file(s)"},
                                                   {form1->Button3, "Process Queue"},
                                                   {form1->CheckBox2, "Place in subdirectory"}})
        EXPECT_EQ(Text(control), text);
    EXPECT_EQ(SendMessageA(form1->CheckBox1, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(SendMessageA(form1->CheckBox2, BM_GETCHECK, 0, 0), BST_CHECKED);
    const LONG_PTR list = GetWindowLongPtrA(form1->ListBox1, GWL_STYLE);
    EXPECT_FALSE(list & (LBS_SORT | LBS_MULTIPLESEL | LBS_EXTENDEDSEL | WS_HSCROLL | LBS_DISABLENOSCROLL));
    for (int i = 0; i < 100; ++i)
        form1->AppendFiles({"C:\\clips\\a very long name that is cut at the right edge of the list, not scrolled.avi"});
    EXPECT_TRUE(GetWindowLongPtrA(form1->ListBox1, GWL_STYLE) & WS_VSCROLL); // when needed
    EXPECT_FALSE(GetWindowLongPtrA(form1->ListBox1, GWL_STYLE) & WS_HSCROLL);
    EXPECT_TRUE(GetWindowLongPtrA(form1->StatusBar1, GWL_STYLE) & SBARS_SIZEGRIP);
    for (HWND button : {form1->Button1, form1->Button2, form1->Button3})
        EXPECT_EQ(GetWindowLongPtrA(button, GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON); // no default button

    // Tahoma 8 points, ANSI, and the layout scaled by the text height.
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(form1->Button3, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_STREQ(font.lfFaceName, "Tahoma");
    EXPECT_EQ(font.lfCharSet, ANSI_CHARSET);
    const FormFont measured;
    const auto s = [&](int v) { return measured.Scale(v); };
    RECT client;
    GetClientRect(form1->Handle, &client);
    EXPECT_EQ(client.right, s(design::kMainClientWidth));
    // The status bar sizes itself to its font unless told not to.
    const RECT status = PlaceOf(form1->StatusBar1);
    EXPECT_EQ(status.bottom - status.top, s(design::kStatusHeight));
    EXPECT_EQ(status.bottom, client.bottom);

    // Wider: the right-anchored controls follow the edge, the others stay.
    RECT outer;
    GetWindowRect(form1->Handle, &outer);
    SetWindowPos(form1->Handle, nullptr, 0, 0, outer.right - outer.left + 100, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    for (std::size_t i = 0; i < design::kPanelControls.size(); ++i) {
        const design::Control& designed = design::kPanelControls[i];
        const HWND control = GetDlgItem(form1->Panel1, kButton1 + static_cast<int>(i));
        const int moved = designed.anchor == design::Anchor::rightBottom ? 100 : 0;
        EXPECT_EQ(PlaceOf(control).left, s(designed.place.left) + moved) << designed.name;
        EXPECT_EQ(PlaceOf(control).top, s(designed.place.top)) << designed.name;
    }
    // Shorter than the panel and the bar: the panel stays docked on the bar, its top off the window.
    SetWindowPos(form1->Handle, nullptr, 0, 0, outer.right - outer.left,
                 outer.bottom - outer.top - client.bottom + s(40), SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(PlaceOf(form1->Panel1).bottom, PlaceOf(form1->StatusBar1).top);
    SetWindowPos(form1->Handle, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER);

    // Tab order: the list, Add, Clear, Delete original, Process Queue, Place in subdirectory.
    HWND at = form1->ListBox1;
    for (HWND next :
         {form1->Button1, form1->Button2, form1->CheckBox1, form1->Button3, form1->CheckBox2, form1->ListBox1}) {
        at = GetNextDlgTabItem(form1->Handle, at, FALSE);
        EXPECT_EQ(at, next);
    }

    EXPECT_EQ(MenuText(form1->MainMenu1, 0), "&File");
    EXPECT_EQ(MenuText(form1->File1, 0), "&Quit\tAlt+F4");
    EXPECT_EQ(MenuText(form1->MainMenu1, 1), "&Help");
    EXPECT_EQ(MenuText(form1->Help1, 0), "&About...");
    EXPECT_EQ(MenuText(form1->PopupMenu1, 0), "&Delete");
    EXPECT_EQ(MenuText(form1->PopupMenu1, 1), "&Clear");
}

TEST_F(WindowsUiTest, QueueCommandsFromButtonsMenusAndKeys)
{
    form1->AppendFiles({"alpha.avi", "beta.avi", "Bravo.avi"});
    SendMessageA(form1->Handle, WM_COMMAND, kDelete1, 0); // nothing selected: nothing happens
    EXPECT_EQ(form1->Entries().size(), 3u);

    // Type-ahead: "b", then "r" before a pause, regardless of case; Backspace takes one back.
    SetFocus(form1->ListBox1);
    SendMessageA(form1->ListBox1, WM_CHAR, 'b', 0);
    EXPECT_EQ(SendMessageA(form1->ListBox1, LB_GETCURSEL, 0, 0), 1);
    SendMessageA(form1->ListBox1, WM_CHAR, 'R', 0);
    EXPECT_EQ(SendMessageA(form1->ListBox1, LB_GETCURSEL, 0, 0), 2);
    SendMessageA(form1->ListBox1, WM_CHAR, VK_BACK, 0);
    SendMessageA(form1->ListBox1, WM_CHAR, 'e', 0);
    EXPECT_EQ(SendMessageA(form1->ListBox1, LB_GETCURSEL, 0, 0), 1);

    // A right click on another entry opens the context menu there and leaves the selection; from
    // the keyboard the menu opens at the list's corner. Delete removes the selected entry.
    static RECT menu;
    const auto closeMenuSoon = [] {
        SetTimer(nullptr, 0, 300, [](HWND, UINT, UINT_PTR timer, DWORD) {
            KillTimer(nullptr, timer);
            GetWindowRect(FindWindowA("#32768", nullptr), &menu);
            EndMenu();
        });
    };
    RECT third;
    SendMessageA(form1->ListBox1, LB_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&third));
    POINT click{third.left + 2, third.top + 2};
    SendMessageA(form1->ListBox1, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(click.x, click.y));
    closeMenuSoon();
    SendMessageA(form1->ListBox1, WM_RBUTTONUP, 0, MAKELPARAM(click.x, click.y));
    ClientToScreen(form1->ListBox1, &click);
    EXPECT_EQ(menu.left, click.x);
    EXPECT_EQ(menu.top, click.y);
    EXPECT_EQ(SendMessageA(form1->ListBox1, LB_GETCURSEL, 0, 0), 1);
    closeMenuSoon();
    SendMessageA(form1->Handle, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(form1->ListBox1), -1);
    POINT corner{0, 0};
    ClientToScreen(form1->ListBox1, &corner);
    EXPECT_EQ(menu.left, corner.x);
    EXPECT_EQ(menu.top, corner.y);
    SendMessageA(form1->Handle, WM_COMMAND, kDelete1, 0);
    EXPECT_EQ(form1->Entries(), (std::vector<std::string>{"alpha.avi", "Bravo.avi"}));

    // Add appends what the dialog chose; Clear from the button and from the context menu.
    chooser_->answer = std::vector<std::string>{"C:\\d\\x.avi", "C:\\d\\x.avi"};
    Click(form1->Button1);
    EXPECT_EQ(form1->Entries().size(), 4u);
    Click(form1->Button2);
    EXPECT_TRUE(form1->Entries().empty());
    form1->AppendFiles({"C:\\e.avi"});
    SendMessageA(form1->Handle, WM_COMMAND, kClear1, 0);
    EXPECT_TRUE(form1->Entries().empty());

    // The list has the focus whenever the window becomes active.
    SetFocus(form1->Button1);
    SendMessageA(form1->Handle, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(GetFocus(), form1->ListBox1);

    // Enter presses the focused button, after a click in the list and Tab back too; the default
    // look follows the focus.
    const auto key = [](WPARAM code) {
        PostMessageA(GetFocus(), WM_KEYDOWN, code, 0);
        Pump(50ms);
    };
    const auto looks = [&] { return (GetWindowLongPtrA(form1->Button1, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON; };
    key(VK_TAB);
    EXPECT_TRUE(looks());
    SetFocus(form1->ListBox1);
    Pump(50ms);
    EXPECT_FALSE(looks());
    key(VK_TAB);
    EXPECT_TRUE(looks());
    chooser_->answer = std::vector<std::string>{"C:\\d\\y.avi"};
    key(VK_RETURN);
    EXPECT_EQ(form1->Entries().size(), 1u);
}

TEST_F(WindowsUiTest, TheOpenDialogReturnsTheFilesChosenOrTyped)
{
    OpenDialogChooser chooser(*TApplication::Instance());
    SetCurrentDirectoryA(clips.dir().c_str());
    std::string typed = "\"a.avi\" \"not there yet.avi\"";
    const auto type = [&typed](HWND dialog) {
        test::WaitFor([&] { return GetDlgItem(dialog, 0x47C) != nullptr; }, 10000);
        SetDlgItemTextA(dialog, 0x47C, typed.c_str());
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    };
    DialogAnswer answer("Choose avi files", type);
    const auto chosen = chooser.Choose(form1->Handle);
    EXPECT_TRUE(answer.Found());
    ASSERT_TRUE(chosen);
    std::string dir = clips.dir();
    EXPECT_EQ(chosen->files, (std::vector<std::string>{dir + "a.avi", dir + "not there yet.avi"}));
    for (int i = 0; i < 700; ++i) // more than the name field holds: Wine cuts the list, yet reports success
        typed += " \"" + std::to_string(i) + std::string(96, 'x') + ".avi\"";
    DialogAnswer tooMany("Choose avi files", type);
    EXPECT_THROW((void)chooser.Choose(form1->Handle), Error); // and nothing is taken
}

TEST_F(WindowsUiTest, TheErrorBoxShowsTheMessageByTheFullStopRuleWithTheWindowsDisabled)
{
    const struct {
        std::string text;
        bool utf8; // else an Error of the core, whose text is UTF-8 all the same
        std::wstring shown;
    } rows[] = {
        {IoErrorMessage(183), false, L"I/O error 183."},
        {Utf8(L"Gr\u00FC\u00DFe.avi"), false, L"Gr\u00FC\u00DFe.avi."},
        {Utf8(L"\u0141\u00F3d\u017A.avi"), true, L"\u0141\u00F3d\u017A.avi."}, // a name the code page cannot write
    };
    for (const auto& row : rows) {
        std::wstring text;
        bool mainEnabled = true;
        DialogAnswer answer("Quorvil", [&](HWND box) {
            test::WaitFor([&] { return !Text(GetDlgItem(box, 0xFFFF)).empty(); }, 10000);
            text.resize(100);
            text.resize(static_cast<std::size_t>(GetDlgItemTextW(box, 0xFFFF, text.data(), 100)));
            mainEnabled = IsWindowEnabled(form1->Handle);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        });
        if (row.utf8)
            TApplication::Instance()->ShowException(Utf8Error(row.text));
        else
            TApplication::Instance()->ShowException(Error(row.text));
        EXPECT_TRUE(answer.Found());
        EXPECT_EQ(text, row.shown);
        EXPECT_FALSE(mainEnabled);
        EXPECT_TRUE(IsWindowEnabled(form1->Handle));
    }
}

TEST_F(WindowsUiTest, ProcessQueueConvertsAndQuitDuringARunWaitsForTheWholeQueue)
{
    const test::ScopedEnv slow("FAKE_SLEEP_MS", "300");
    const std::string a = Clip("a.avi");
    const std::string b = Clip("b.avi");
    form1->AppendFiles({a, b});
    // While the first tool runs: Quit, and "Process Queue" again (which does nothing).
    PostMessageA(form1->Handle, WM_COMMAND, kQuit1, 0);
    PostMessageA(form1->Button3, BM_CLICK, 0, 0);
    Click(form1->Button3);
    EXPECT_EQ(test::ReadToolLog(clips / "tools.log").size(), 6u);
    EXPECT_TRUE(StampOf(b + "_processed\\b.avi.A2.wav").exists);
    EXPECT_EQ(ends, 1); // once the run had ended
    EXPECT_EQ(form1->Entries().size(), 2u);
}

TEST_F(WindowsUiTest, TheAboutWindowIsOneModelessDialogThatKeepsItsPlace)
{
    const LONG_PTR style = GetWindowLongPtrA(form2->Handle, GWL_STYLE);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
    EXPECT_TRUE(GetWindowLongPtrA(form2->Handle, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME); // no icon
    EXPECT_EQ(Text(form2->Handle), "About");
    EXPECT_EQ(Text(form2->Label1), "Quorvil " QUORVIL_VERSION);

    SendMessageA(form1->Handle, WM_COMMAND, kAbout1, 0);
    SendMessageA(form1->Handle, WM_COMMAND, kAbout1, 0);
    EXPECT_TRUE(IsWindowVisible(form2->Handle));
    EXPECT_TRUE(IsWindowEnabled(form1->Handle));
    EXPECT_EQ(GetFocus(), form2->Button1);
    SendMessageA(form2->Handle, WM_COMMAND, IDCANCEL, 0); // Esc does nothing
    EXPECT_TRUE(IsWindowVisible(form2->Handle));
    SetWindowPos(form2->Handle, nullptr, 40, 50, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    Click(form2->Button1);
    EXPECT_FALSE(IsWindowVisible(form2->Handle));
    SendMessageA(form1->Handle, WM_COMMAND, kAbout1, 0);
    RECT place;
    GetWindowRect(form2->Handle, &place);
    EXPECT_EQ(place.left, 40);
    EXPECT_EQ(place.top, 50);

    // Alt+F4 in the About window ends the application, but not while the main window is disabled.
    MSG altF4{form2->Button1, WM_SYSKEYDOWN, VK_F4, 1 << 29, 0, {}};
    EnableWindow(form1->Handle, FALSE);
    TApplication::Instance()->HandleMessage(altF4);
    EXPECT_EQ(ends, 0);
    EnableWindow(form1->Handle, TRUE);
    TApplication::Instance()->HandleMessage(altF4);
    EXPECT_EQ(ends, 1);
}

// How many pixels of a rectangle of a window, in its client coordinates, are not the button face.
int InkIn(HWND window, RECT area)
{
    const HDC dc = GetDC(window);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    int ink = 0;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x)
            ink += GetPixel(dc, x, y) != face;
    }
    ReleaseDC(window, dc);
    return ink;
}

void Redraw(HWND window)
{
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    Pump(50ms);
}

TEST_F(WindowsUiTest, AfterWideningTheControlsAreWholeAndTheGripOnlyAtTheRightEnd)
{
    Redraw(form1->Handle);
    RECT bar;
    GetClientRect(form1->StatusBar1, &bar);
    const int grip = GetSystemMetrics(SM_CXVSCROLL);
    const RECT oldGrip{bar.right - grip, bar.top + 3, bar.right - 2, bar.bottom - 2};
    ASSERT_GT(InkIn(form1->StatusBar1, oldGrip), 0) << "no grip to begin with";

    RECT outer;
    GetWindowRect(form1->Handle, &outer);
    SetWindowPos(form1->Handle, nullptr, 0, 0, outer.right - outer.left + 150, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    Redraw(form1->Handle);
    EXPECT_EQ(InkIn(form1->StatusBar1, oldGrip), 0) << "the old grip is still drawn";
    GetClientRect(form1->StatusBar1, &bar);
    EXPECT_GT(InkIn(form1->StatusBar1, {bar.right - grip, bar.top + 3, bar.right - 2, bar.bottom - 2}), 0);
    // The last words of "Delete original file(s)" and "Process Queue" are drawn where they moved to.
    for (const HWND control : {form1->CheckBox1, form1->Button3}) {
        RECT box;
        GetClientRect(control, &box);
        const RECT rightHalf{box.right / 2, box.top + 2, box.right - 2, box.bottom - 2};
        EXPECT_GT(InkIn(control, rightHalf), 10) << Text(control);
    }
}

TEST_F(WindowsUiTest, EnterOnTheAboutWindowsOkClosesItAndEscDoesNot)
{
    SendMessageA(form1->Handle, WM_COMMAND, kAbout1, 0);
    Pump(50ms);
    ASSERT_EQ(GetFocus(), form2->Button1);
    // Through the application's loop, as the keys come.
    PostMessageA(form2->Button1, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(form2->Button1, WM_KEYUP, VK_ESCAPE, 0);
    Pump(50ms);
    EXPECT_TRUE(IsWindowVisible(form2->Handle));
    PostMessageA(form2->Button1, WM_KEYDOWN, VK_RETURN, 0);
    PostMessageA(form2->Button1, WM_KEYUP, VK_RETURN, 0);
    Pump(50ms);
    EXPECT_FALSE(IsWindowVisible(form2->Handle));
}

TEST_F(WindowsUiTest, TheOpenDialogIsModalOverTheAboutWindowToo)
{
    SendMessageA(form1->Handle, WM_COMMAND, kAbout1, 0);
    Pump(50ms);
    std::atomic<bool> aboutEnabled{true};
    std::atomic<bool> mainEnabled{true};
    DialogAnswer answer("Choose avi files", [&](HWND dialog) {
        aboutEnabled = IsWindowEnabled(form2->Handle) != FALSE;
        mainEnabled = IsWindowEnabled(form1->Handle) != FALSE;
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    OpenDialogChooser chooser(*TApplication::Instance());
    EXPECT_FALSE(chooser.Choose(form1->Handle));
    EXPECT_TRUE(answer.Found());
    EXPECT_FALSE(aboutEnabled);
    EXPECT_FALSE(mainEnabled);
    EXPECT_TRUE(IsWindowEnabled(form2->Handle));
    EXPECT_TRUE(IsWindowEnabled(form1->Handle));
}

TEST_F(WindowsUiTest, AfterTheErrorBoxTheWindowThatWasActiveIsActiveAgain)
{
    SendMessageA(form1->Handle, WM_COMMAND, kAbout1, 0);
    Pump(50ms);
    SetActiveWindow(form1->Handle);
    Pump(50ms);
    ASSERT_EQ(GetActiveWindow(), form1->Handle);
    const std::string a = Clip("a.avi");
    CreateDirectoryA((a + "_processed").c_str(), nullptr); // the run stops with "I/O error 183."
    form1->AppendFiles({a});
    DialogAnswer answer("Quorvil", [&](HWND box) {
        // Messages for the About window meanwhile do not make it the window that was active.
        for (UINT message : {WM_MOUSEMOVE, WM_PAINT, WM_TIMER})
            PostMessageA(form2->Handle, message, 0, 0);
        test::WaitFor([&] { return GetDlgItem(box, 0xFFFF) != nullptr; }, 10000);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    // A window manager's own offer of the activation to the About window, as Wine passes it on, is
    // declined until the user acts: after the box, and after a restore.
    const auto offer = [&] {
        return SendMessageA(form2->Handle, WM_MOUSEACTIVATE, 0, MAKELPARAM(HTMENU, WM_LBUTTONDOWN));
    };
    MSG key{form1->ListBox1, WM_KEYDOWN, VK_DOWN, 0, 0, {}};
    Click(form1->Button3);
    EXPECT_TRUE(answer.Found());
    EXPECT_EQ(offer(), MA_NOACTIVATE);
    Pump(100ms);
    EXPECT_EQ(GetActiveWindow(), form1->Handle);
    EXPECT_TRUE(IsWindowVisible(form2->Handle));
    TApplication::Instance()->HandleMessage(key);
    EXPECT_EQ(offer(), MA_ACTIVATE);
    SendMessageA(form1->Handle, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    SendMessageA(TApplication::Instance()->Handle(), WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_EQ(offer(), MA_NOACTIVATE);
    EXPECT_EQ(GetActiveWindow(), form1->Handle);
    SendMessageA(form1->Handle, WM_COMMAND, kAbout1, 0); // the About window active as it is minimised
    SendMessageA(form1->Handle, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    SendMessageA(form1->Handle, WM_ACTIVATE, WA_ACTIVE, 0); // on the way, as the About window hid first
    SendMessageA(TApplication::Instance()->Handle(), WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_EQ(GetActiveWindow(), form2->Handle);
}

TEST_F(WindowsUiTest, TheErrorBoxIsCutToTheScreensHeightWithItsIconAndButtonOnIt)
{
    // Short lines, and long ones the box wraps to several rows at a width of its own choosing.
    const std::string longName =
        "C:\\Users\\ann\\Videos\\a holiday film taken on the beach of the northern coast, take ";
    for (const auto& [count, name, missing] :
         {std::tuple{65, std::string("C:\\Users\\ann\\Videos\\holiday take "), false}, std::tuple{40, longName, true},
          std::tuple{70, longName, true}}) {
        FailureReport report;
        for (int i = 1; i <= count; ++i)
            report.NotConverted(name + std::to_string(i) + ".avi", "vdub.exe ended with exit code 1", false, missing);
        RECT box{};
        std::vector<RECT> parts; // the text, the OK button and the icon
        std::string text;
        DialogAnswer answer("Quorvil", [&](HWND shown) {
            test::WaitFor([&] { return !Text(GetDlgItem(shown, 0xFFFF)).empty(); }, 10000);
            GetWindowRect(shown, &box);
            for (HWND part = GetWindow(shown, GW_CHILD); part; part = GetWindow(part, GW_HWNDNEXT)) {
                if (part == GetDlgItem(shown, 0xFFFF) || part == GetDlgItem(shown, IDOK) ||
                    (GetWindowLongA(part, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                    GetWindowRect(part, &parts.emplace_back());
            }
            text = Text(GetDlgItem(shown, 0xFFFF));
            PostMessageA(shown, WM_COMMAND, IDOK, 0);
        });
        TApplication::Instance()->ShowException(RunFailed(report));
        ASSERT_TRUE(answer.Found());
        RECT free{};
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &free, 0);
        EXPECT_TRUE(box.top >= free.top && box.bottom <= free.bottom) << count;
        EXPECT_EQ(parts.size(), 3u) << count;
        for (const RECT& part : parts)
            EXPECT_TRUE(part.top >= box.top && part.bottom <= box.bottom && part.bottom > part.top) << count;
        EXPECT_GT(box.bottom - box.top, (free.bottom - free.top) / 2) << count << ": cut further than it must";
        EXPECT_TRUE(text.starts_with(std::to_string(count) + " files were not converted:\r\n") ||
                    text.starts_with(std::to_string(count) + " files were not converted:\n"))
            << text;
        EXPECT_NE(text.find("more files were not converted."), std::string::npos) << text;
    }
}

TEST_F(WindowsUiTest, TypeAheadTakesBackWholeCodePageLetters)
{
    // Typed in the system's code page (Wine: 1252 here, or 1250 for Central European users) these are
    // single bytes, several of which look like UTF-8 continuation bytes; the queue holds them in UTF-8,
    // two bytes each, which Backspace takes back together.
    for (const char* letter : {"\x9A", "\x8E", "\xA3", "\xB9"}) {
        SendMessageA(form1->ListBox1, LB_RESETCONTENT, 0, 0);
        form1->AppendFiles({"xa.avi", "x" + Utf8(FromCodePage(letter)) + ".avi"});
        nowMs += TypeAhead::kPauseMs; // a pause: a new search
        SetFocus(form1->ListBox1);
        SendMessageA(form1->ListBox1, WM_CHAR, 'x', 0);
        SendMessageA(form1->ListBox1, WM_CHAR, static_cast<unsigned char>(letter[0]), 0);
        EXPECT_EQ(SendMessageA(form1->ListBox1, LB_GETCURSEL, 0, 0), 1) << static_cast<int>(letter[0] & 0xFF);
        SendMessageA(form1->ListBox1, WM_CHAR, 'q', 0);
        SendMessageA(form1->ListBox1, WM_CHAR, VK_BACK, 0);
        SendMessageA(form1->ListBox1, WM_CHAR, VK_BACK, 0); // back to "x"
        EXPECT_EQ(SendMessageA(form1->ListBox1, LB_GETCURSEL, 0, 0), 0) << static_cast<int>(letter[0] & 0xFF);
    }
}

TEST_F(WindowsUiTest, TheBusyPointerGoesWhenTheRunEndsWithoutTheMouseMoving)
{
    form1->AppendFiles({Clip("a.avi")});
    RECT list;
    GetWindowRect(form1->ListBox1, &list);
    SetCursorPos((list.left + list.right) / 2, (list.top + list.bottom) / 2);
    Pump(50ms);
    Click(form1->Button3);
    const HCURSOR busy = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_APPSTARTING));
    EXPECT_NE(std::find(pointers.begin(), pointers.end(), busy), pointers.end()) << "never busy";
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW)));
}

// A drop as Explorer hands it over: DROPFILES, then each name in UTF-16 with its end, and an end.
HDROP Drop(const std::vector<std::wstring>& names)
{
    std::wstring list;
    for (const std::wstring& name : names)
        list += name + L'\0';
    const HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + (list.size() + 1) * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    *drop = {sizeof(DROPFILES), {}, FALSE, TRUE};
    std::memcpy(drop + 1, list.data(), list.size() * sizeof(wchar_t));
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

TEST_F(WindowsUiTest, FilesFromTheShellAreQueuedByTheirOwnNamesNeverByALookAlike)
{
    const std::string dir = clips.dir();
    const std::wstring wide(dir.begin(), dir.end());
    const std::wstring outside = wide + L"\U0001F600.avi"; // in no code page but UTF-8
    for (const char* name : {"b.AVI", "a.avi", "c10.avi", "c9.avi", "notes.txt"})
        test::WriteFile(dir + name, "x");
    CloseHandle(CreateFileW(outside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    CreateDirectoryA((dir + "inner.avi").c_str(), nullptr);
    // Beside each name code page 1252 cannot write, its best fit: "a", "?" (matching "b"), "Lódz".
    const std::string lookAlikes = dir + "names\\";
    const std::wstring unwritable = wide + L"names\\";
    CreateDirectoryA(lookAlikes.c_str(), nullptr);
    for (const char* name : {"a.avi", "b.avi", "L\363dz.avi", "c.avi"})
        test::WriteFile(lookAlikes + name, "x");
    std::vector<std::wstring> unwritablePaths;
    std::vector<std::string> asQueued;
    for (const wchar_t* name : {L"\u0101.avi", L"\u0436.avi", L"\u0141\u00F3d\u017A.avi"}) {
        unwritablePaths.push_back(unwritable + name);
        asQueued.push_back(Utf8(unwritablePaths.back()));
        CloseHandle(CreateFileW(unwritablePaths.back().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    }
    std::string shown;
    const auto errorBox =
        std::exchange(TApplication::Instance()->showError, [&](const std::exception& error) { shown = error.what(); });
    OpenDialogChooser dialog(*TApplication::Instance());
    chooser_->dialog = &dialog;
    enum class From { drop, commandLine, openDialog };
    const struct {
        From from;
        std::vector<std::wstring> names;
        std::vector<std::string> queued; // in UTF-8, as the core takes them
    } rows[] = {
        {From::drop,
         {L"C:\\x\\one.avi", outside, L"C:\\x\\two.avi"},
         {"C:\\x\\one.avi", Utf8(outside), "C:\\x\\two.avi"}},
        // A folder: the AVI files directly inside it, in name order.
        {From::drop,
         {wide.substr(0, wide.size() - 1)},
         {dir + "a.avi", dir + "b.AVI", dir + "c9.avi", dir + "c10.avi", Utf8(outside)}},
        {From::commandLine,
         {L"one.avi", L"\"C:\\x y\\two.avi\"", outside},
         {lookAlikes + "one.avi", "C:\\x y\\two.avi", Utf8(outside)}},
        {From::drop, unwritablePaths, asQueued},
        {From::commandLine, unwritablePaths, asQueued},
        {From::openDialog,
         {L"\"c.avi\" \"\u0101.avi\" \"\u0436.avi\" \"\u0141\u00F3d\u017A.avi\""},
         {lookAlikes + "c.avi", asQueued[0], asQueued[1], asQueued[2]}},
    };
    SetCurrentDirectoryW(unwritable.c_str());
    for (const auto& row : rows) {
        SendMessageA(form1->ListBox1, LB_RESETCONTENT, 0, 0);
        shown.clear();
        std::wstring line = L"quorvil.exe";
        for (const std::wstring& name : row.names)
            line += L" " + name;
        if (row.from == From::drop) {
            SendMessageA(form1->ListBox1, WM_DROPFILES, reinterpret_cast<WPARAM>(Drop(row.names)), 0);
        } else if (row.from == From::commandLine) {
            form1->AddShellFiles(StartFromCommandLine(line.c_str()).files);
        } else {
            DialogAnswer answer("Choose avi files", [&](HWND box) {
                test::WaitFor([&] { return GetDlgItem(box, 0x47C) != nullptr; }, 10000);
                SetDlgItemTextW(box, 0x47C, row.names.front().c_str());
                PostMessageA(box, WM_COMMAND, IDOK, 0);
            });
            Click(form1->Button1);
            EXPECT_TRUE(answer.Found());
        }
        EXPECT_EQ(form1->Entries(), row.queued);
        EXPECT_EQ(shown, "");
    }
    TApplication::Instance()->showError = errorBox;
}

} // namespace
} // namespace quorvil

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    quorvil::TApplication application(GetModuleHandleA(nullptr));
    return RUN_ALL_TESTS();
}
