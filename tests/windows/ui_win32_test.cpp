// The Windows windows in process, under Wine on an X server of the test run's own: commands
// through the controls' own messages, the real open dialog and error box answered from a thread.
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include "Mainfrm.h"
#include "Unit2.h"
#include "errors.h"
#include "file_ops.h"
#include "host.h"
#include "layout.h"
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
    std::optional<std::vector<std::string>> Choose(HWND) override { return answer; }
};

class WindowsUiTest : public ::testing::Test {
protected:
    WindowsUiTest() : log_("FAKE_TOOL_LOG", clips / "tools.log")
    {
        test::InstallFakeTools(tools);
        auto chooser = std::make_unique<FakeChooser>();
        chooser_ = chooser.get();
        form1 = std::make_unique<TForm1>(TForm1::Services{
            std::move(chooser), {tools.dir(), HostPathRules(), LaunchTool, nullptr}, [this] { ++ends; }, {}});
        form2 = std::make_unique<TForm2>(TApplication::Instance()->Handle());
        form1->SetAboutForm(form2.get());
        TApplication::Instance()->MainForm = form1.get();
        TApplication::Instance()->AboutForm = form2.get();
        form1->Show(SW_SHOWNORMAL);
        Pump(50ms);
    }
    ~WindowsUiTest() override
    {
        TApplication::Instance()->MainForm = nullptr;
        TApplication::Instance()->AboutForm = nullptr;
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
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;
    FakeChooser* chooser_ = nullptr;
    int ends = 0;

private:
    test::ScopedEnv log_;
};

TEST_F(WindowsUiTest, TheMainWindowHasItsComponentsAsDesigned)
{
    EXPECT_EQ(Text(form1->Handle), "Quorvil");
    EXPECT_EQ(GetWindow(form1->Handle, GW_OWNER), TApplication::Instance()->Handle()); // no task-bar button of its own
    EXPECT_EQ(Text(TApplication::Instance()->Handle()), "Quorvil");
    for (const auto& [control, text] :
         std::vector<std::pair<HWND, std::string>>{{form1->Button1, "Add AVI files"},
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
    const FormFont measured = CreateFormFont();
    const auto s = [&](int v) { return ScaleForText(v, measured.textHeight); };
    const RECT button3 = PlaceOf(form1->Button3);
    EXPECT_EQ(button3.right - button3.left, s(89));
    EXPECT_EQ(button3.top, s(11));
    RECT client;
    GetClientRect(form1->Handle, &client);
    EXPECT_EQ(client.right, s(581));
    EXPECT_EQ(button3.left, s(485)); // at the design width

    // Wider: the right-anchored controls follow the edge, the others stay.
    RECT outer;
    GetWindowRect(form1->Handle, &outer);
    SetWindowPos(form1->Handle, nullptr, 0, 0, outer.right - outer.left + 100, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(PlaceOf(form1->Button3).left, s(485) + 100);
    EXPECT_EQ(PlaceOf(form1->CheckBox1).left, s(323) + 100);
    EXPECT_EQ(PlaceOf(form1->CheckBox2).left, s(323));
    EXPECT_EQ(PlaceOf(form1->Button1).left, s(8));

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
    DeleteFormFont(const_cast<FormFont&>(measured));
}

TEST_F(WindowsUiTest, QueueCommandsFromButtonsMenusAndKeys)
{
    form1->AppendFiles({"alpha.avi", "beta.avi", "Bravo.avi"});
    SendMessageA(form1->Handle, WM_COMMAND, kDelete1, 0); // nothing selected: nothing happens
    EXPECT_EQ(form1->Entries().size(), 3u);

    // Type-ahead: "b", then "r" within 500 ms, regardless of case; Backspace takes one back.
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
}

TEST_F(WindowsUiTest, TheOpenDialogReturnsTheFilesChosenOrTyped)
{
    OpenDialogChooser chooser;
    SetCurrentDirectoryA(clips.dir().c_str());
    DialogAnswer answer("Choose avi files", [](HWND dialog) {
        test::WaitFor([&] { return GetDlgItem(dialog, 0x47C) != nullptr; }, 10000);
        SetDlgItemTextA(dialog, 0x47C, "\"a.avi\" \"not there yet.avi\"");
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    });
    const auto chosen = chooser.Choose(form1->Handle);
    EXPECT_TRUE(answer.Found());
    ASSERT_TRUE(chosen);
    std::string dir = clips.dir();
    EXPECT_EQ(*chosen, (std::vector<std::string>{dir + "a.avi", dir + "not there yet.avi"}));
}

TEST_F(WindowsUiTest, TheErrorBoxShowsTheMessageByTheFullStopRuleWithTheWindowsDisabled)
{
    std::string text;
    bool mainEnabled = true;
    DialogAnswer answer("Quorvil", [&](HWND box) {
        test::WaitFor([&] { return !Text(GetDlgItem(box, 0xFFFF)).empty(); }, 10000);
        text = Text(GetDlgItem(box, 0xFFFF));
        mainEnabled = IsWindowEnabled(form1->Handle);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    Guarded([] { throw Error(IoErrorMessage(183)); });
    EXPECT_TRUE(answer.Found());
    EXPECT_EQ(text, "I/O error 183.");
    EXPECT_FALSE(mainEnabled);
    EXPECT_TRUE(IsWindowEnabled(form1->Handle));
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
    EXPECT_EQ(Text(form2->Label1), "Quorvil 1.5");

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

} // namespace
} // namespace quorvil

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    quorvil::TApplication application(GetModuleHandleA(nullptr));
    return RUN_ALL_TESTS();
}
