#include "Mainfrm.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include <windows.h>

// After windows.h, whose types they use.
#include <commctrl.h>
#include <commdlg.h>
#include <shobjidl.h>

#include "Unit2.h"
#include "error_text.h"
#include "layout.h"
#include "message_cut.h"
#include "type_ahead.h"

namespace quorvil {

namespace {

// Design values at a text height of 13 pixels.
constexpr int kClientWidth = 581;
constexpr int kClientHeight = 392; // below the menu bar
constexpr int kPanelHeight = 44;
constexpr int kStatusHeight = 19;

constexpr char kApplicationClass[] = "TApplication";
constexpr char kForm1Class[] = "TForm1";
constexpr char kPanelClass[] = "TPanel";

TApplication* application = nullptr;

std::int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The windows of this thread that are visible and enabled: the ones the error box disables.
std::vector<HWND> EnabledThreadWindows()
{
    std::vector<HWND> windows;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM list) -> BOOL {
            if (IsWindowVisible(window) && IsWindowEnabled(window))
                reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// The error box: modal, the application's other windows disabled while it is up, and the window
// that was active active again afterwards.
void ShowErrorBox(const std::string& text)
{
    const HWND active = GetActiveWindow();
    const std::vector<HWND> disabled = EnabledThreadWindows();
    for (HWND window : disabled)
        EnableWindow(window, FALSE);
    MessageBoxA(active ? active : TApplication::Instance()->Handle(), text.c_str(), "Quorvil", MB_OK | MB_ICONSTOP);
    for (HWND window : disabled)
        EnableWindow(window, TRUE);
    if (active && IsWindow(active))
        SetActiveWindow(active);
}

// The open dialog's hook: horizontally centred on the monitor of the window it was opened from,
// its top at one third of the free height.
UINT_PTR CALLBACK CentreOpenDialog(HWND hook, UINT message, WPARAM, LPARAM lParam)
{
    if (message != WM_NOTIFY || reinterpret_cast<const OFNOTIFYA*>(lParam)->hdr.code != CDN_INITDONE)
        return 0;
    const HWND dialog = GetParent(hook);
    const auto* notify = reinterpret_cast<const OFNOTIFYA*>(lParam);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoA(MonitorFromWindow(notify->lpOFN->hwndOwner, MONITOR_DEFAULTTONEAREST), &monitor);
    RECT box;
    GetWindowRect(dialog, &box);
    const RECT& free = monitor.rcWork;
    const int width = box.right - box.left;
    const int height = box.bottom - box.top;
    SetWindowPos(dialog, nullptr, free.left + (free.right - free.left - width) / 2,
                 free.top + std::max(0L, (free.bottom - free.top - height) / 3), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return 0;
}

// A menu item's text: what the user reads, with its access key marked.
void AddItem(HMENU menu, int id, const char* text)
{
    AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(id), text);
}

} // namespace

// ---- the task-bar button's progress

struct TApplication::Taskbar {
    ITaskbarList3* list = nullptr;
    bool initialised = false;

    ~Taskbar()
    {
        if (list)
            list->Release();
        if (initialised)
            CoUninitialize();
    }
};

// ---- fonts and scaling

int FormFont::Scale(int designPixels) const
{
    return ScaleForText(designPixels, textHeight);
}

FormFont CreateFormFont()
{
    // Tahoma 8 points in the ANSI character set, its height scaled to the screen's resolution.
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    FormFont font;
    for (const int weight : {FW_NORMAL, FW_BOLD}) {
        const HFONT made =
            CreateFontA(-MulDiv(8, dpi, 72), 0, 0, 0, weight, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Tahoma");
        (weight == FW_NORMAL ? font.normal : font.bold) = made;
    }
    // Then the height of "0" in it decides the scaling of every position and size.
    const HGDIOBJ old = SelectObject(screen, font.normal);
    SIZE zero{};
    if (GetTextExtentPoint32A(screen, "0", 1, &zero) && zero.cy > 0)
        font.textHeight = zero.cy;
    SelectObject(screen, old);
    ReleaseDC(nullptr, screen);
    return font;
}

void DeleteFormFont(FormFont& font)
{
    for (HFONT* made : {&font.normal, &font.bold}) {
        if (*made)
            DeleteObject(*made);
        *made = nullptr;
    }
}

void CentreOnPrimaryScreen(HWND window)
{
    RECT free{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &free, 0);
    RECT box;
    GetWindowRect(window, &box);
    const int width = box.right - box.left;
    const int height = box.bottom - box.top;
    SetWindowPos(window, nullptr, std::max(free.left, free.left + (free.right - free.left - width) / 2),
                 std::max(free.top, free.top + (free.bottom - free.top - height) / 2), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void RegisterClassOnce(const char* name, WNDPROC procedure, HICON icon, int background)
{
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExA(GetModuleHandleA(nullptr), name, &existing))
        return;
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hIcon = icon;
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(background + 1));
    windowClass.lpszClassName = name;
    RegisterClassExA(&windowClass);
}

// ---- the open dialog

std::optional<std::vector<std::string>> OpenDialogChooser::Choose(HWND owner)
{
    // 65519 characters in all: the directory, every name and the separators.
    std::vector<char> buffer(65519 + 1, '\0');
    std::memcpy(buffer.data(), lastFile_.c_str(), std::min(lastFile_.size(), buffer.size() - 2));
    static constexpr char filter[] = "AVI Files\0*.avi\0All files (*.*)\0*.*\0";
    OPENFILENAMEA request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = owner;
    request.lpstrFilter = filter;
    request.nFilterIndex = filterIndex_;
    request.lpstrFile = buffer.data();
    request.nMaxFile = 65519;
    request.lpstrTitle = "Choose avi files";
    request.Flags = OFN_EXPLORER | OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_ENABLEHOOK;
    request.lpfnHook = CentreOpenDialog;
    const BOOL chosen = GetOpenFileNameA(&request);
    filterIndex_ = request.nFilterIndex;
    if (!chosen)
        return std::nullopt; // cancelled, or the choice did not fit: nothing is added, nothing shown

    // One file: its full path. Several: the directory, then each name.
    const std::string directory = buffer.data();
    std::vector<std::string> names;
    for (const char* name = buffer.data() + directory.size() + 1; *name; name += std::strlen(name) + 1)
        names.emplace_back(name);
    std::vector<std::string> paths = DialogResultPaths(directory, names);
    if (!paths.empty())
        lastFile_ = paths.front();
    return paths;
}

// ---- the application object

TApplication::TApplication(HINSTANCE instance) : instance_(instance), taskbar_(std::make_unique<Taskbar>())
{
    application = this;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    icon_ = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(1), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                          GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
    RegisterClassOnce(kApplicationClass, WindowProc, icon_, COLOR_BTNFACE);
    // A top-level window of no size: it carries the task-bar button, titled with the application's
    // title, and owns the forms, which therefore have no button of their own.
    const int x = GetSystemMetrics(SM_CXSCREEN) / 2;
    const int y = GetSystemMetrics(SM_CYSCREEN) / 2;
    handle_ = CreateWindowExA(0, kApplicationClass, "Quorvil",
                              WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX, x, y, 0, 0,
                              nullptr, nullptr, instance, nullptr);
    SendMessageA(handle_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageA(handle_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    showError = ShowErrorBox;
}

TApplication::~TApplication()
{
    if (handle_)
        DestroyWindow(handle_);
    for (HICON icon : {icon_, smallIcon_}) {
        if (icon)
            DestroyIcon(icon);
    }
    application = nullptr;
}

TApplication* TApplication::Instance()
{
    return application;
}

LRESULT CALLBACK TApplication::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    TApplication* self = application;
    switch (message) {
    case WM_ACTIVATE:
        // Restored from its task-bar button: the form that was active is active again.
        if (self && LOWORD(wParam) != WA_INACTIVE && self->MainForm) {
            const HWND target =
                self->lastActive_ && IsWindowVisible(self->lastActive_) ? self->lastActive_ : self->MainForm->Handle;
            if (IsWindowEnabled(target))
                SetActiveWindow(target);
            return 0;
        }
        break;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_RESTORE && IsIconic(window)) {
            DefWindowProcA(window, message, wParam, lParam);
            if (self && self->MainForm)
                SetActiveWindow(self->lastActive_ ? self->lastActive_ : self->MainForm->Handle);
            return 0;
        }
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            if (self && self->MainForm)
                self->MainForm->Quit1Click();
            return 0;
        }
        break;
    case WM_CLOSE:
        if (self && self->MainForm)
            self->MainForm->Quit1Click();
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void TApplication::HandleMessage(MSG& message)
{
    // Alt+F4 is the application's shortcut for Quit, from either form, while the main window is
    // enabled (a modal dialog disables it, and then Alt+F4 is the dialog's).
    if (message.message == WM_SYSKEYDOWN && message.wParam == VK_F4 && MainForm && IsWindowEnabled(MainForm->Handle)) {
        const HWND root = GetAncestor(message.hwnd, GA_ROOT);
        if (root == MainForm->Handle || (AboutForm && root == AboutForm->Handle)) {
            MainForm->Quit1Click();
            return;
        }
    }
    const HWND root = message.hwnd ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    if (root && MainForm && (root == MainForm->Handle || (AboutForm && root == AboutForm->Handle))) {
        lastActive_ = root;
        // Tab, Shift+Tab, Enter and Space on the focused button, as in a dialog.
        if (IsDialogMessageA(root, &message))
            return;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

void TApplication::ProcessMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // The end is asked for: it comes when the command that is running has returned.
            terminated_ = true;
            if (MainForm)
                MainForm->RequestEnd();
            continue;
        }
        HandleMessage(message);
    }
}

void TApplication::Terminate()
{
    PostQuitMessage(0);
}

void TApplication::ShowException(const std::exception& error)
{
    ReleaseCapture();
    // A list of failures too long for the screen shows its first lines and the count of the rest.
    RECT free{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &free, 0);
    const int lines = (free.bottom - free.top) / 13 - 12;
    showError(CutForScreen(WithFullStop(error.what()), std::max(lines, 5)).shown);
}

void TApplication::ShowProgress(double fraction, bool visible)
{
    if (!taskbar_->initialised) {
        taskbar_->initialised = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                    reinterpret_cast<void**>(&taskbar_->list))))
            taskbar_->list = nullptr;
        if (taskbar_->list && FAILED(taskbar_->list->HrInit())) {
            taskbar_->list->Release();
            taskbar_->list = nullptr;
        }
    }
    if (!taskbar_->list)
        return;
    taskbar_->list->SetProgressState(handle_, visible ? TBPF_NORMAL : TBPF_NOPROGRESS);
    if (visible)
        taskbar_->list->SetProgressValue(handle_, static_cast<ULONGLONG>(fraction * 1000), 1000);
}

int TApplication::Run(int showCommand)
{
    ShowWindow(handle_, SW_SHOWNORMAL); // of no size: only its task-bar button shows
    TForm1 form1;
    TForm2 form2(handle_);
    MainForm = &form1;
    AboutForm = &form2;
    form1.SetAboutForm(&form2);
    form1.Show(showCommand);

    MSG message;
    while (!terminated_) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got <= 0)
            break;
        HandleMessage(message);
        if (form1.TakeEndDue())
            break;
    }
    MainForm = nullptr;
    AboutForm = nullptr;
    return 0;
}

// ---- the main window

struct TForm1::Search {
    TypeAhead typeAhead;
};

TForm1::Services TForm1::DefaultServices()
{
    return {std::make_unique<OpenDialogChooser>(), RunEnvironment{}, [] { TApplication::Instance()->Terminate(); },
            [](double fraction, bool visible) { TApplication::Instance()->ShowProgress(fraction, visible); }};
}

TForm1::TForm1(Services services)
    : services_(std::move(services)), runner_(services_.environment),
      progress_(services_.showProgress, [this] { return static_cast<int>(SendMessageA(ListBox1, LB_GETCOUNT, 0, 0)); }),
      search_(std::make_unique<Search>())
{
    if (!runner_.Environment().observer)
        runner_.Environment().observer = &progress_;
    OpenDialog1 = services_.chooser.get();
    font_ = CreateFormFont();
    TApplication* app = TApplication::Instance();
    RegisterClassOnce(kForm1Class, FormWindowProc<TForm1>, app->Icon(), COLOR_BTNFACE);
    RegisterClassOnce(kPanelClass, PanelProc, nullptr, COLOR_BTNFACE);
    CreateComponents();
}

TForm1::~TForm1()
{
    if (Handle) {
        SetWindowLongPtrA(Handle, GWLP_USERDATA, 0);
        DestroyWindow(Handle);
    }
    if (PopupMenu1)
        DestroyMenu(PopupMenu1);
    DeleteFormFont(font_);
}

void TForm1::CreateComponents()
{
    TApplication* app = TApplication::Instance();
    MainMenu1 = CreateMenu();
    File1 = CreatePopupMenu();
    AddItem(File1, kQuit1, "&Quit\tAlt+F4");
    Help1 = CreatePopupMenu();
    AddItem(Help1, kAbout1, "&About...");
    AppendMenuA(MainMenu1, MF_POPUP, reinterpret_cast<UINT_PTR>(File1), "&File");
    AppendMenuA(MainMenu1, MF_POPUP, reinterpret_cast<UINT_PTR>(Help1), "&Help");
    PopupMenu1 = CreatePopupMenu();
    AddItem(PopupMenu1, kDelete1, "&Delete");
    AddItem(PopupMenu1, kClear1, "&Clear");

    Handle = CreateWindowExA(WS_EX_CONTROLPARENT, kForm1Class, "Quorvil", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                             CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, app->Handle(), MainMenu1, app->instance(), this);

    const auto child = [this](DWORD exStyle, const char* windowClass, const char* text, DWORD style, HWND parent,
                              int id) {
        const HWND control = CreateWindowExA(exStyle, windowClass, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10,
                                             parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                             TApplication::Instance()->instance(), nullptr);
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.normal), FALSE);
        return control;
    };
    // Creation order is tab order: the list, then the panel with its controls in theirs.
    ListBox1 = child(WS_EX_CLIENTEDGE, "LISTBOX", "",
                     WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS, Handle, kListBox1);
    SetWindowSubclass(ListBox1, ListProc, 1, reinterpret_cast<DWORD_PTR>(this));
    StatusBar1 = child(0, STATUSCLASSNAMEA, "", SBARS_SIZEGRIP, Handle, kStatusBar1);
    int whole = -1; // one empty part over the whole width
    SendMessageA(StatusBar1, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(&whole));
    Panel1 = child(WS_EX_CONTROLPARENT, kPanelClass, "", WS_CLIPSIBLINGS, Handle, kPanel1);
    SetWindowLongPtrA(Panel1, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    Button1 = child(0, "BUTTON", "Add AVI files", WS_TABSTOP | BS_PUSHBUTTON, Panel1, kButton1);
    Button2 = child(0, "BUTTON", "Clear", WS_TABSTOP | BS_PUSHBUTTON, Panel1, kButton2);
    CheckBox1 = child(0, "BUTTON", "Delete original file(s)", WS_TABSTOP | BS_AUTOCHECKBOX, Panel1, kCheckBox1);
    Button3 = child(0, "BUTTON", "Process Queue", WS_TABSTOP | BS_PUSHBUTTON, Panel1, kButton3);
    CheckBox2 = child(0, "BUTTON", "Place in subdirectory", WS_TABSTOP | BS_AUTOCHECKBOX, Panel1, kCheckBox2);
    SendMessageA(CheckBox2, BM_SETCHECK, BST_CHECKED, 0);
    LayOut();
}

void TForm1::LayOut()
{
    const auto s = [this](int designPixels) { return font_.Scale(designPixels); };
    // The outer size follows from the client area the layout is designed for.
    RECT outer{0, 0, s(kClientWidth), s(kClientHeight)};
    AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongPtrA(Handle, GWL_STYLE)), TRUE,
                       static_cast<DWORD>(GetWindowLongPtrA(Handle, GWL_EXSTYLE)));
    SetWindowPos(Handle, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client;
    GetClientRect(Handle, &client);
    const int width = client.right;
    MoveWindow(Panel1, 0, 0, width, s(kPanelHeight), FALSE);
    MoveWindow(Button1, s(8), s(11), s(81), s(25), FALSE);
    MoveWindow(Button2, s(96), s(11), s(49), s(25), FALSE);
    MoveWindow(CheckBox1, s(323), s(6), s(152), s(17), FALSE);
    MoveWindow(Button3, s(485), s(11), s(89), s(25), FALSE);
    MoveWindow(CheckBox2, s(323), s(22), s(145), s(17), FALSE);
    // Anchored to the right edge: the distance to it stays as designed, at the design width.
    anchoredRight_.clear();
    for (HWND control : {CheckBox1, Button3}) {
        RECT box;
        GetWindowRect(control, &box);
        MapWindowPoints(nullptr, Panel1, reinterpret_cast<POINT*>(&box), 2);
        anchoredRight_.push_back({control, s(kClientWidth) - box.right});
    }
    SendMessageA(Handle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
}

void TForm1::Show(int showCommand)
{
    if (!shownBefore_)
        CentreOnPrimaryScreen(Handle);
    shownBefore_ = true;
    ShowWindow(Handle, showCommand);
    UpdateWindow(Handle);
}

LRESULT CALLBACK TForm1::PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // The panel holds the buttons: what they say goes to the form.
    auto* self = reinterpret_cast<TForm1*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self && (message == WM_COMMAND || message == WM_SETCURSOR))
        return self->Message(message, wParam, lParam);
    if (message == WM_CTLCOLORSTATIC || message == WM_CTLCOLORBTN) {
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK TForm1::ListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data)
{
    auto* self = reinterpret_cast<TForm1*>(data);
    switch (message) {
    case WM_CHAR:
        self->TypeAheadKey(wParam);
        return 0;
    case WM_LBUTTONDBLCLK:
        return 0; // a double click does nothing
    default:
        return DefSubclassProc(window, message, wParam, lParam);
    }
}

void TForm1::TypeAheadKey(WPARAM key)
{
    if (key != VK_BACK && key < ' ')
        return;
    const char character = static_cast<char>(key);
    const std::string& prefix = key == VK_BACK ? search_->typeAhead.Backspace(NowMs())
                                               : search_->typeAhead.Type(std::string_view(&character, 1), NowMs());
    if (prefix.empty())
        return;
    // The first entry that begins with the prefix, regardless of case.
    const auto count = static_cast<int>(SendMessageA(ListBox1, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        std::string text(static_cast<std::size_t>(SendMessageA(ListBox1, LB_GETTEXTLEN, i, 0)) + 1, '\0');
        SendMessageA(ListBox1, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
        if (text.size() > prefix.size() &&
            CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, text.c_str(), static_cast<int>(prefix.size()),
                           prefix.c_str(), static_cast<int>(prefix.size())) == CSTR_EQUAL) {
            SendMessageA(ListBox1, LB_SETCURSEL, i, 0);
            return;
        }
    }
}

void TForm1::ShowContextMenu(LPARAM at)
{
    POINT point{static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at))};
    if (at == -1) {
        // From the keyboard: at the list's top-left corner.
        point = {0, 0};
        ClientToScreen(ListBox1, &point);
    }
    TrackPopupMenu(PopupMenu1, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, point.x, point.y, 0, Handle, nullptr);
}

LRESULT TForm1::Message(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE: {
        const int width = LOWORD(lParam);
        const int height = HIWORD(lParam);
        SendMessageA(StatusBar1, WM_SIZE, 0, 0);
        RECT status;
        GetWindowRect(StatusBar1, &status);
        const int statusHeight = status.bottom - status.top;
        const int panelHeight = font_.Scale(kPanelHeight);
        const int listHeight = std::max(0, height - statusHeight - panelHeight);
        MoveWindow(ListBox1, 0, 0, width, listHeight, TRUE);
        MoveWindow(Panel1, 0, listHeight, width, panelHeight, TRUE);
        for (const Anchor& anchor : anchoredRight_) {
            RECT box;
            GetWindowRect(anchor.control, &box);
            MapWindowPoints(nullptr, Panel1, reinterpret_cast<POINT*>(&box), 2);
            MoveWindow(anchor.control, width - anchor.rightGap - (box.right - box.left), box.top, box.right - box.left,
                       box.bottom - box.top, TRUE);
        }
        return 0;
    }
    case WM_ACTIVATE:
        // The list has the focus whenever the window becomes active.
        if (LOWORD(wParam) != WA_INACTIVE) {
            SetFocus(ListBox1);
            return 0;
        }
        break;
    case WM_SYSCOMMAND:
        // Minimising the main window minimises the application: its task-bar button, both forms.
        if ((wParam & 0xFFF0) == SC_MINIMIZE) {
            ShowWindow(TApplication::Instance()->Handle(), SW_MINIMIZE);
            return 0;
        }
        break;
    case WM_SETCURSOR:
        // During a run: the busy-but-usable pointer over the application's windows.
        if (runner_.Busy() && LOWORD(lParam) == HTCLIENT) {
            SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_APPSTARTING)));
            return TRUE;
        }
        break;
    case WM_CONTEXTMENU: {
        if (reinterpret_cast<HWND>(wParam) != ListBox1)
            break;
        // On the list's scroll bar, the scroll bar's own menu.
        if (lParam != -1) {
            POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            ScreenToClient(ListBox1, &point);
            RECT client;
            GetClientRect(ListBox1, &client);
            if (!PtInRect(&client, point))
                break;
        }
        ShowContextMenu(lParam);
        return 0;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case kButton1:
            Command([this] { Button1Click(); });
            return 0;
        case kButton2:
        case kClear1:
            Command([this] { Button2Click(); });
            return 0;
        case kButton3:
            Command([this] { Button3Click(); });
            return 0;
        case kDelete1:
            Command([this] { Delete1Click(); });
            return 0;
        case kAbout1:
            Command([this] { About1Click(); });
            return 0;
        case kQuit1:
            Command([this] { Quit1Click(); });
            return 0;
        default:
            return 0; // IDCANCEL from Esc, IDOK from Enter: no default or cancel button
        }
    case WM_CLOSE:
        // Closing the window by any means asks the application to end.
        Command([this] { Quit1Click(); });
        return 0;
    default:
        break;
    }
    return DefWindowProcA(Handle, message, wParam, lParam);
}

void TForm1::Command(const std::function<void()>& command)
{
    Guarded(command);
    if (quitGate_.TakeEndDue(runner_.Busy()))
        services_.endApplication();
}

void TForm1::AppendFiles(const std::vector<std::string>& paths)
{
    for (const auto& path : paths)
        SendMessageA(ListBox1, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(path.c_str()));
}

std::vector<std::string> TForm1::Entries() const
{
    std::vector<std::string> entries;
    const auto count = static_cast<int>(SendMessageA(ListBox1, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        std::string text(static_cast<std::size_t>(SendMessageA(ListBox1, LB_GETTEXTLEN, i, 0)) + 1, '\0');
        text.resize(
            static_cast<std::size_t>(SendMessageA(ListBox1, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()))));
        entries.push_back(std::move(text));
    }
    return entries;
}

void TForm1::Button1Click()
{
    if (const auto chosen = OpenDialog1->Choose(Handle))
        AppendFiles(*chosen);
}

void TForm1::Button2Click()
{
    SendMessageA(ListBox1, LB_RESETCONTENT, 0, 0);
}

void TForm1::Delete1Click()
{
    const auto selected = SendMessageA(ListBox1, LB_GETCURSEL, 0, 0);
    if (selected != LB_ERR)
        SendMessageA(ListBox1, LB_DELETESTRING, static_cast<WPARAM>(selected), 0);
}

void TForm1::Button3Click()
{
    if (runner_.Busy())
        return; // the run under way goes on; its pointer and progress stay its own
    const QueueAccess queue{
        [this] { return static_cast<int>(SendMessageA(ListBox1, LB_GETCOUNT, 0, 0)); },
        [this](int i) -> std::optional<std::string> {
            const auto length = SendMessageA(ListBox1, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
            if (length == LB_ERR)
                return std::nullopt;
            std::string text(static_cast<std::size_t>(length) + 1, '\0');
            SendMessageA(ListBox1, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
            text.resize(static_cast<std::size_t>(length));
            return text;
        },
        [this] { return SendMessageA(CheckBox2, BM_GETCHECK, 0, 0) == BST_CHECKED; },
        [this] { return SendMessageA(CheckBox1, BM_GETCHECK, 0, 0) == BST_CHECKED; },
    };
    // While a tool runs the window goes on handling whatever the user does: the pointer says busy
    // but usable, the task-bar button shows how far the run is.
    progress_.Started();
    struct EndOfRun {
        RunProgress& progress;
        ~EndOfRun() { progress.Ended(); }
    } end{progress_};
    runner_.RunQueue(queue, [] { TApplication::Instance()->ProcessMessages(); });
}

void TForm1::About1Click()
{
    if (aboutForm_)
        aboutForm_->ShowAbout();
}

void TForm1::Quit1Click()
{
    // A quit request posted to the event loop; a run under way finds it and finishes first.
    quitGate_.RequestEnd();
    if (quitGate_.TakeEndDue(runner_.Busy()))
        services_.endApplication();
}

} // namespace quorvil
