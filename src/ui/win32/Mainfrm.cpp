#include "Mainfrm.h"

#include <algorithm>

#include <windows.h>

// After windows.h, whose types it uses.
#include <commctrl.h>

#include "Unit2.h"
#include "anchored_panel.h"
#include "form_design.h"
#include "queue_list_box.h"

namespace quorvil {

namespace {

constexpr char kForm1Class[] = "TForm1";

std::string Text(std::string_view text)
{
    return std::string(text);
}

// A menu item's text as the menu shows it: the access key marked, the shortcut after a tab.
void AddItem(HMENU menu, int id, const design::MenuItem& item)
{
    const std::string text = Text(item.text) + (item.shortcut.empty() ? "" : "\t" + Text(item.shortcut));
    AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(id), text.c_str());
}

HMENU AddSubmenu(HMENU menu, const design::MenuItem& item)
{
    const HMENU submenu = CreatePopupMenu();
    AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(submenu), Text(item.text).c_str());
    return submenu;
}

} // namespace

TForm1::Services TForm1::DefaultServices(FormHost& application)
{
    return {std::make_unique<OpenDialogChooser>(application),
            RunEnvironment{},
            [] { PostQuitMessage(0); },
            [&application](double fraction, bool visible) { application.ShowProgress(fraction, visible); },
            {}};
}

TForm1::TForm1(FormHost& application, Services services)
    : application_(application), services_(std::move(services)), queue_(*this, services_)
{
    OpenDialog1 = services_.chooser.get();
    RegisterClassOnce(kForm1Class, FormWindowProc<TForm1>, application_.Icon(), COLOR_BTNFACE);
    CreateMenus();
    CreateComponents();
    LayOut();
}

TForm1::~TForm1()
{
    panel_.reset();
    list_.reset();
    if (Handle)
        DestroyWindow(Handle);
    if (PopupMenu1)
        DestroyMenu(PopupMenu1);
}

void TForm1::CreateMenus()
{
    MainMenu1 = CreateMenu();
    File1 = AddSubmenu(MainMenu1, design::kFile1);
    AddItem(File1, kQuit1, design::kQuit1);
    Help1 = AddSubmenu(MainMenu1, design::kHelp1);
    AddItem(Help1, kAbout1, design::kAbout1);
    PopupMenu1 = CreatePopupMenu();
    AddItem(PopupMenu1, kDelete1, design::kDelete1);
    AddItem(PopupMenu1, kClear1, design::kClear1);
}

void TForm1::CreateComponents()
{
    // In the module its class is registered for (RegisterClassOnce).
    Handle = CreateWindowExA(WS_EX_CONTROLPARENT, kForm1Class, Text(design::kMainCaption).c_str(),
                             WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT, 100, 100,
                             application_.Handle(), MainMenu1, GetModuleHandleA(nullptr), this);
    // Creation order is tab order: the list, then the panel with its controls in theirs.
    list_ = std::make_unique<QueueListBox>(Handle, kListBox1, font_.Normal(), services_.typeAheadClock,
                                           [this](HDROP drop) { AddShellFiles(DroppedFiles(drop)); });
    ListBox1 = list_->Handle();
    // Placed by the form at its designed height, with the size grip at its right end.
    StatusBar1 = CreateControl(0, STATUSCLASSNAMEA, "", SBARS_SIZEGRIP | CCS_NORESIZE | CCS_NOPARENTALIGN, Handle,
                               kStatusBar1, font_.Normal());
    int whole = -1; // one empty part over the whole width
    SendMessageA(StatusBar1, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(&whole));
    panel_ = std::make_unique<AnchoredPanel>(Handle, kPanel1, [this](UINT message, WPARAM wParam, LPARAM lParam) {
        return Message(message, wParam, lParam);
    });
    Panel1 = panel_->Handle();

    constexpr int ids[] = {kButton1, kButton2, kCheckBox1, kButton3, kCheckBox2};
    HWND* controls[] = {&Button1, &Button2, &CheckBox1, &Button3, &CheckBox2};
    for (std::size_t i = 0; i < design::kPanelControls.size(); ++i) {
        const design::Control& control = design::kPanelControls[i];
        const bool box = control.kind == design::Kind::checkBox;
        *controls[i] = CreateControl(0, "BUTTON", Text(control.text).c_str(),
                                     WS_TABSTOP | (box ? BS_AUTOCHECKBOX : BS_PUSHBUTTON | BS_NOTIFY), Panel1, ids[i],
                                     font_.Normal());
        if (box && control.checked)
            SendMessageA(*controls[i], BM_SETCHECK, BST_CHECKED, 0);
    }
    defaultLook_ = FocusedButtonDefault(Handle, {Button1, Button2, Button3});
}

void TForm1::LayOut()
{
    // The outer size follows from the client area the layout is designed for.
    const int designWidth = font_.Scale(design::kMainClientWidth);
    RECT outer{0, 0, designWidth, font_.Scale(design::kMainClientHeight)};
    AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongPtrA(Handle, GWL_STYLE)), TRUE,
                       static_cast<DWORD>(GetWindowLongPtrA(Handle, GWL_EXSTYLE)));
    const HWND controls[] = {Button1, Button2, CheckBox1, Button3, CheckBox2};
    for (std::size_t i = 0; i < design::kPanelControls.size(); ++i)
        panel_->Place(controls[i], font_.Scale(design::kPanelControls[i].place), design::kPanelControls[i].anchor,
                      designWidth);
    SetWindowPos(Handle, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client;
    GetClientRect(Handle, &client);
    OnSize(client.right, client.bottom);
}

void TForm1::OnSize(int width, int height)
{
    const int statusHeight = font_.Scale(design::kStatusHeight);
    const int panelHeight = font_.Scale(design::kPanelHeight);
    const int listHeight = std::max(0, height - statusHeight - panelHeight);
    MoveWindow(ListBox1, 0, 0, width, listHeight, TRUE);
    panel_->SetBounds(0, height - statusHeight - panelHeight, width, panelHeight); // on the bar, even off the top
    MoveWindow(StatusBar1, 0, height - statusHeight, width, statusHeight, TRUE);
    // The grip is drawn at the bar's right end: where it was before is drawn anew too.
    InvalidateRect(StatusBar1, nullptr, TRUE);
}

void TForm1::Show(int showCommand)
{
    if (!shownBefore_)
        CentreOnPrimaryScreen(Handle);
    shownBefore_ = true;
    ShowWindow(Handle, showCommand);
    UpdateWindow(Handle);
}

bool TForm1::OnCommand(int id, int code, HWND control)
{
    // Buttons say BN_CLICKED (Enter on the focused one too); menu items say 0. Check boxes tick
    // themselves; Esc (IDCANCEL) and Enter without a focused button (IDOK) do nothing: no button is
    // a default or cancel button.
    if (defaultLook_.Notified(control, code))
        return true;
    constexpr int kMenu = 0;
    static constexpr struct {
        int id;
        int code;
        void (QueueForm::*handler)();
    } routes[] = {
        {kButton1, BN_CLICKED, &QueueForm::Button1Click}, {kButton2, BN_CLICKED, &QueueForm::Button2Click},
        {kButton3, BN_CLICKED, &QueueForm::Button3Click}, {kClear1, kMenu, &QueueForm::Button2Click},
        {kDelete1, kMenu, &QueueForm::Delete1Click},      {kAbout1, kMenu, &QueueForm::About1Click},
        {kQuit1, kMenu, &QueueForm::Quit1Click},
    };
    for (const auto& route : routes) {
        if (route.id == id && route.code == code) {
            queue_.Command([this, &route] { (queue_.*route.handler)(); });
            return true;
        }
    }
    return false;
}

bool TForm1::OnContextMenu(HWND window, LPARAM at)
{
    if (window != ListBox1)
        return false;
    POINT point{static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at))};
    if (at == -1) {
        // From the keyboard: at the list's top-left corner.
        point = {0, 0};
        ClientToScreen(ListBox1, &point);
    } else {
        // On the list's scroll bar, the scroll bar's own menu.
        POINT inside = point;
        ScreenToClient(ListBox1, &inside);
        RECT client;
        GetClientRect(ListBox1, &client);
        if (!PtInRect(&client, inside))
            return false;
    }
    TrackPopupMenu(PopupMenu1, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, point.x, point.y, 0, Handle, nullptr);
    return true;
}

LRESULT TForm1::Message(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (const std::optional<LRESULT> answer = defaultLook_.FormMessage(message))
        return *answer;
    // The list has the focus whenever the window becomes active.
    if (const auto answer = application_.FormMessage(Handle, ListBox1, message, wParam, lParam))
        return *answer;
    switch (message) {
    case WM_SIZE:
        OnSize(LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_SYSCOMMAND:
        // Minimising the main window minimises the application: its task-bar button, both forms.
        if ((wParam & 0xFFF0) == SC_MINIMIZE) {
            application_.Minimise();
            return 0;
        }
        break;
    case WM_CONTEXTMENU:
        if (OnContextMenu(reinterpret_cast<HWND>(wParam), lParam))
            return 0;
        break;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_CLOSE:
        // Closing the window by any means asks the application to end.
        queue_.Command([this] { queue_.Quit1Click(); });
        return 0;
    default:
        break;
    }
    return DefWindowProcA(Handle, message, wParam, lParam);
}

void TForm1::AppendFiles(const std::vector<std::string>& paths)
{
    for (const auto& path : paths)
        list_->Append(path);
}

void TForm1::AddShellFiles(const ShellFiles& files)
{
    queue_.Command([this, &files] { AppendFiles(files.files); });
}

std::vector<std::string> TForm1::Entries() const
{
    return list_->Entries();
}

int TForm1::EntryCount() const
{
    return list_->Count();
}

std::optional<std::string> TForm1::Entry(int index) const
{
    return list_->Entry(index);
}

bool TForm1::PlaceInSubdirectory() const
{
    return SendMessageA(CheckBox2, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool TForm1::DeleteOriginals() const
{
    return SendMessageA(CheckBox1, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TForm1::ClearEntries()
{
    SendMessageA(ListBox1, LB_RESETCONTENT, 0, 0);
}

std::optional<int> TForm1::SelectedEntry() const
{
    const auto selected = SendMessageA(ListBox1, LB_GETCURSEL, 0, 0);
    if (selected == LB_ERR)
        return std::nullopt;
    return static_cast<int>(selected);
}

void TForm1::RemoveEntry(int index)
{
    SendMessageA(ListBox1, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
}

std::optional<std::vector<std::string>> TForm1::ChooseFiles()
{
    std::optional<ShellFiles> chosen = OpenDialog1->Choose(Handle);
    if (!chosen)
        return std::nullopt;
    return std::move(chosen->files);
}

void TForm1::ShowAbout()
{
    if (aboutForm_)
        aboutForm_->ShowAbout();
}

void TForm1::ShowError(const std::exception& error)
{
    application_.ShowException(error);
}

void TForm1::ProcessEvents()
{
    application_.ProcessMessages();
}

void TForm1::ShowBusyPointer(bool busy)
{
    application_.ShowBusyPointer(busy);
}

} // namespace quorvil
