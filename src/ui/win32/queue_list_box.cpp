#include "queue_list_box.h"

#include <commctrl.h>
#include <shellapi.h>

#include "form_design.h"
#include "form_support.h"
#include "wide_text_win32.h"

namespace quorvil {

namespace {

constexpr UINT_PTR kSubclassId = 1;

} // namespace

QueueListBox::QueueListBox(HWND parent, int id, HFONT font, TypeAhead::Clock clock, std::function<void(HDROP)> dropped)
    : typeAhead_(std::move(clock)), dropped_(std::move(dropped))
{
    // A list box shows no window text; MSAA takes it as the list's name, for a screen reader.
    handle_ =
        CreateControl(WS_EX_CLIENTEDGE, "LISTBOX", std::string(design::kListBox1Name).c_str(),
                      WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS, parent, id, font);
    SetWindowSubclass(handle_, Subclass, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    DragAcceptFiles(handle_, TRUE);
}

QueueListBox::~QueueListBox()
{
    if (IsWindow(handle_))
        RemoveWindowSubclass(handle_, Subclass, kSubclassId);
}

int QueueListBox::Count() const
{
    return static_cast<int>(SendMessageA(handle_, LB_GETCOUNT, 0, 0));
}

// The entries are kept in UTF-16, as the list shows them, and given in UTF-8, as the core takes names.
std::optional<std::string> QueueListBox::Entry(int index) const
{
    const auto length = SendMessageW(handle_, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR)
        return std::nullopt;
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    SendMessageW(handle_, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return Utf8(text);
}

std::vector<std::string> QueueListBox::Entries() const
{
    std::vector<std::string> entries;
    for (int i = 0; i < Count(); ++i)
        entries.push_back(Entry(i).value_or(""));
    return entries;
}

void QueueListBox::Append(const std::string& entry)
{
    SendMessageW(handle_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(FromUtf8(entry).c_str()));
}

LRESULT CALLBACK QueueListBox::Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                        DWORD_PTR data)
{
    auto* self = reinterpret_cast<QueueListBox*>(data);
    switch (message) {
    case WM_CHAR:
        self->TypeAheadKey(wParam);
        return 0;
    case WM_LBUTTONDBLCLK:
        return 0; // a double click does nothing
    case WM_DROPFILES: {
        const auto drop = reinterpret_cast<HDROP>(wParam);
        if (self->dropped_)
            self->dropped_(drop);
        DragFinish(drop);
        return 0;
    }
    case WM_NCDESTROY:
        RemoveWindowSubclass(window, Subclass, kSubclassId);
        self->handle_ = nullptr;
        break;
    default:
        break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

void QueueListBox::TypeAheadKey(WPARAM key)
{
    if (key == VK_BACK) {
        leadByte_.clear();
        SelectFirstBeginningWith(*this, typeAhead_.Backspace());
        return;
    }
    if (key < ' ')
        return;
    // The common controls' subclass sees the list as a Unicode window: the key is a UTF-16 unit,
    // given to the search in UTF-8, as the entries are read.
    if (IsWindowUnicode(handle_)) {
        const auto unit = static_cast<wchar_t>(key);
        if (unit < 0xD800 || unit > 0xDFFF) // half of a letter beyond the first plane finds nothing
            SelectFirstBeginningWith(*this, typeAhead_.Type(Utf8(std::wstring_view(&unit, 1))));
        return;
    }
    // An ANSI window gets a character of the code page, a double-byte one as two WM_CHAR messages.
    const char byte = static_cast<char>(key);
    if (leadByte_.empty() && IsDBCSLeadByte(static_cast<BYTE>(key))) {
        leadByte_ = byte;
        return;
    }
    const std::string character = leadByte_ + byte;
    leadByte_.clear();
    wchar_t unit[2] = {};
    const int units = MultiByteToWideChar(CP_ACP, 0, character.data(), static_cast<int>(character.size()), unit, 2);
    if (units > 0)
        SelectFirstBeginningWith(*this,
                                 typeAhead_.Type(Utf8(std::wstring_view(unit, static_cast<std::size_t>(units)))));
}

bool QueueListBox::BeginsWith(int index, const std::string& prefix) const
{
    const std::wstring text = FromUtf8(Entry(index).value_or(""));
    const std::wstring start = FromUtf8(prefix);
    return text.size() >= start.size() &&
           CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, text.c_str(), static_cast<int>(start.size()),
                          start.c_str(), static_cast<int>(start.size())) == CSTR_EQUAL;
}

void QueueListBox::Select(int index)
{
    SendMessageA(handle_, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

} // namespace quorvil
